// formats, detect, info and dump, and the argument handling the commands share.
#include "cli/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/window_options.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/path_expansion.h"
#include "convert/voice_files.h"
#include "core/stream_dump.h"
#include "core/vstream.h"
#include "formats/smaf_voice.h"
#include "formats/wave_file.h"
#include "platform/clipboard.h"
#include "platform/text.h"
#include "util/paths.h"

namespace vlm::cli {

namespace fs = std::filesystem;

int usageError(const std::string& reason) {
  std::fprintf(stderr, "vlmconv: %s\n", reason.c_str());
  return 2;
}

int parseCommonOption(int argc, char** argv, int i) {
  const char* arg = argv[i];
  if (!std::strcmp(arg, "--ini")) {
    if (i + 1 >= argc) return usageError("--ini needs a file"), -1;
    std::string file = argv[i + 1];
    // A bare name would mean the user's config folder; on the command line it is the file here.
    if (file.find('/') == std::string::npos) file = "./" + file;
    if (!fs::exists(file)) return usageError("settings file not found: " + file), -1;
    loadSettings(file.c_str());
    return 2;
  }
  if (!std::strcmp(arg, "--set")) {
    if (i + 1 >= argc) return usageError("--set needs KEY=VALUE"), -1;
    std::string pair = argv[i + 1];
    size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) return usageError("--set needs KEY=VALUE"), -1;
    if (!setOptionByKey(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str()))
      return usageError("unknown settings key: " + pair.substr(0, eq)), -1;
    return 2;
  }
  std::string err;
  const int used = parseWindowOption(argc, argv, i, err);
  if (used < 0) return usageError(err), -1;
  return used;
}

namespace {

void expandOne(const std::string& path, std::vector<InputFile>& out, bool keepUnsupported,
               int depth) {
  if (depth > 8) return;  // a playlist that lists itself
  if (isClipboardPath(path.c_str())) {
    out.push_back({path, detectFormat(path.c_str()), 0});
    return;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    out.push_back({path, FORMAT_UNSUPPORTED, errno});
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    walkFolder(path, [&](const std::string& file) {
      const FormatCode code = detectFileFormat(file.c_str());
      if (code > 0 || keepUnsupported) out.push_back({file, code > 0 ? code : 0, 0});
      return true;
    });
    return;
  }
  const FormatCode code = detectFileFormat(path.c_str());
  if (code == FORMAT_PLAYLIST) {
    walkPlaylistFile(path, [&](const std::string& entry) {
      expandOne(entry, out, keepUnsupported, depth + 1);
      return true;
    });
    return;
  }
  out.push_back({path, code > 0 ? code : 0, 0});
}

const char* const INFO_KEYS[INFO_FIELDS] = {"title",   "copyright", "artist", "words",   "compose",
                                            "arrange", "genre",     "date",   "software"};

std::string infoText(int field) {
  return songTextUtf8(field);
}

// A song without a tempo event plays at the default tempo of 120 beats per minute.
constexpr unsigned DEFAULT_BPM = 120;

unsigned tempoMin() {
  return songStats.tempoMax ? songStats.tempoMin : DEFAULT_BPM;
}
unsigned tempoMax() {
  return songStats.tempoMax ? songStats.tempoMax : DEFAULT_BPM;
}

uint32_t totalNotes() {
  uint32_t notes = 0;
  for (const ChannelStats& ch : songStats.ch) notes += ch.notes;
  return notes;
}

void printInfoJson(FormatCode code, uint16_t timebase, const WaveFileSummary* wave) {
  std::printf("{\n  \"format\": %d,\n", code);
  for (int f = 0; f < INFO_FIELDS; ++f)
    std::printf("  \"%s\": %s,\n", INFO_KEYS[f], jsonString(infoText(f)).c_str());
  std::printf("  \"protect\": %u,\n  \"timebase\": %u,\n", song.ProtectFlags, timebase);
  std::printf("  \"tempoMin\": %u,\n  \"tempoMax\": %u,\n", tempoMin(), tempoMax());
  std::printf("  \"maxPolyphony\": %u,\n  \"notes\": %u,\n", songStats.maxPolyphony, totalNotes());
  if (song.read.unsupported)
    std::printf("  \"unsupported\": %s,\n", jsonString(song.read.unsupported).c_str());
  const std::shared_ptr<const smaf::VoiceSet> voices = smaf::songVoices();
  if (!voices->empty() || !voices->bindings.empty())
    std::printf(
        "  \"voices\": {\"fm\": %zu, \"sampled\": %zu, \"waves\": %zu, \"userWaveforms\": %zu, "
        "\"builtInPrograms\": %zu, \"text\": %s},\n",
        voices->fmCount(), voices->pcmCount(), voices->waves.size(), voices->userWaveforms.size(),
        voices->builtInPrograms(), jsonString(smaf::describeVoices(*voices)).c_str());
  std::printf("  \"channels\": [");
  bool first = true;
  for (int ch = 0; ch < CHANNELS; ++ch) {
    const ChannelStats& c = songStats.ch[ch];
    if (c.notes == 0) continue;
    const bool rhythm = (songStats.rhythmMask >> ch) & 1;
    std::printf(
        "%s\n    {\"channel\": %d, \"notes\": %u, \"lowNote\": %u, \"highNote\": %u, "
        "\"program\": %d, \"rhythm\": %s}",
        first ? "" : ",", ch + 1, c.notes, c.lowNote, c.highNote,
        c.programUse == PROGRAM_NONE ? -1 : c.program & 0x7F, rhythm ? "true" : "false");
    first = false;
  }
  std::printf("%s],\n  \"lyrics\": [", first ? "" : "\n  ");
  for (size_t i = 0; i < songStats.lyrics.size(); ++i)
    std::printf("%s%s", i ? ", " : "", jsonString(sjisToUtf8(songStats.lyrics[i].text)).c_str());
  std::printf("]");
  if (wave)
    std::printf(
        ",\n  \"waveFile\": {\"coding\": %s, \"rate\": %u, \"channels\": %d, "
        "\"bits\": %d, \"dataBytes\": %u}",
        jsonString(wave->coding).c_str(), wave->rate, wave->channels, wave->bits, wave->dataBytes);
  std::printf("\n}\n");
}

void printInfoText(FormatCode code, uint16_t timebase, const WaveFileSummary* wave) {
  std::printf("format: %d\n", code);
  for (int f = 0; f < INFO_FIELDS; ++f) {
    std::string text = infoText(f);
    if (!text.empty()) std::printf("%s: %s\n", INFO_KEYS[f], text.c_str());
  }
  std::printf("protect: %u\ntimebase: %u\n", song.ProtectFlags, timebase);
  std::printf("tempo: %u..%u bpm\n", tempoMin(), tempoMax());
  std::printf("notes: %u, polyphony: %u\n", totalNotes(), songStats.maxPolyphony);
  if (song.read.unsupported) std::printf("unsupported: cannot decode %s\n", song.read.unsupported);
  const std::string voices = smaf::describeVoices(*smaf::songVoices());
  if (!voices.empty()) std::printf("voices: %s\n", voices.c_str());
  for (int ch = 0; ch < CHANNELS; ++ch) {
    const ChannelStats& c = songStats.ch[ch];
    if (c.notes == 0) continue;
    const bool rhythm = (songStats.rhythmMask >> ch) & 1;
    std::printf("channel %2d: %u notes, %u..%u%s\n", ch + 1, c.notes, c.lowNote, c.highNote,
                rhythm ? ", rhythm" : "");
  }
  if (!songStats.lyrics.empty()) std::printf("lyrics: %zu entries\n", songStats.lyrics.size());
  if (wave)
    std::printf("wave file: %s, %u Hz, %d channel%s, %d bits, %u bytes of data\n",
                wave->coding.c_str(), wave->rate, wave->channels, wave->channels == 1 ? "" : "s",
                wave->bits, wave->dataBytes);
}

uint16_t streamTimebase(const MemBlock& stream) {
  TrackTable table;
  loadTrackTable(table, stream.data, uint32_t(stream.length > 0 ? stream.length : 0));
  return table.timebase;
}

// Reads one input for info and dump; prints the reason when it cannot.
bool readSong(const std::string& input, FormatCode* code, MemBlock* stream) {
  *code = detectFormat(input.c_str());
  struct stat st;
  if (*code == FORMAT_DIRECTORY && ::stat(input.c_str(), &st) != 0) {
    std::fprintf(stderr, "vlmconv: %s: %s\n", input.c_str(), std::strerror(errno));
    return false;
  }
  if (*code <= 0) {
    std::fprintf(stderr, "vlmconv: %s: not a supported song file\n", input.c_str());
    return false;
  }
  clearFileFailure();
  std::string unsupported;
  if (!readCommandInput(input, *code, stream, &unsupported)) {
    if (!unsupported.empty()) {
      std::fprintf(stderr, "vlmconv: %s: %s\n", input.c_str(), unsupported.c_str());
      return false;
    }
    const FileFailure& failure = lastFileFailure();
    std::fprintf(stderr, "vlmconv: %s\n",
                 failure.op != FileOp::NONE ? fileFailureText(failure).c_str()
                                            : (input + ": cannot be read").c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

bool summarizeWaveFile(const std::string& path, WaveFileSummary* summary) {
  uint8_t* data = nullptr;
  int32_t size = 0;
  void* block = loadFile(path.c_str(), &data, &size);
  if (!block) return false;
  const WaveFileFormat format = parseWaveFile(data, uint32_t(size));
  freeBlock(block);
  if (!format.riffWave || !format.hasFormat) return false;
  summary->coding = waveFileCodingName(format.tag);
  summary->rate = format.rate;
  summary->channels = format.channels;
  summary->bits = format.bits;
  summary->dataBytes = format.length;
  summary->decodable = waveFileDecodable(format);
  return true;
}

int readCommandInput(const std::string& input, int code, MemBlock* stream,
                     std::string* unsupported) {
  if (code != FORMAT_QCP) return readInput(input.c_str(), code, stream);
  std::string wave;
  if (!convertQcpToWave(programDirectory(), input, &wave, unsupported)) return 0;
  const int read = readInput(wave.c_str(), code, stream);
  ::unlink(wave.c_str());
  return read;
}

std::vector<InputFile> expandInputFiles(const std::vector<std::string>& inputs,
                                        bool keepUnsupported) {
  std::vector<InputFile> out;
  for (const std::string& input : inputs) expandOne(input, out, keepUnsupported, 0);
  return out;
}

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs) {
  std::vector<std::string> out;
  for (InputFile& file : expandInputFiles(inputs)) out.push_back(std::move(file.path));
  return out;
}

int cmdFormats(int, char**) {
  int count = 0;
  const InputFormat* in = inputFormats(&count);
  std::printf("input formats (code, supported, description):\n");
  for (int i = 0; i < count; ++i)
    std::printf("  %3d  %-3s  %s\n", in[i].code,
                in[i].reader || in[i].code == FORMAT_VLM ? "yes" : "no", in[i].name);
  const OutputFormat* out = outputFormats(&count);
  std::printf("output formats (code, name, extension, size key, supported, menu label):\n");
  for (int i = 0; i < count; ++i) {
    const OutputFormat& f = out[i];
    const bool supported = f.writer || f.code == OUTPUT_COPY || f.code == OUTPUT_MAIL;
    std::printf("  %3d  %-12s %-5s %-10s %-3s  %s\n", f.code, f.shortName,
                f.extension ? f.extension : "(own)", f.sizeKey ? f.sizeKey : "-",
                supported ? "yes" : "no", f.label);
  }
  std::printf("family names (the most common variant of each family):\n");
  for (int i = 0; i < count; ++i)
    if (const char* family = outputFamilyName(out[i].code))
      std::printf("  %-4s = %3d  %s  %s\n", family, out[i].code, out[i].shortName, out[i].label);
  return 0;
}

int cmdDetect(int argc, char** argv) {
  if (argc < 2) return usageError("detect needs at least one path");
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
      return std::puts("usage: vlmconv detect PATH...  (prints the format code of each path)"), 0;
  for (int i = 1; i < argc; ++i) std::printf("%d\t%s\n", detectFormat(argv[i]), argv[i]);
  return 0;
}

namespace {

constexpr int HELP_SHOWN = -1;

// The arguments of a command that takes one input: `own` consumes the command's own options at
// argv[i] (returns the count, 0 when not one of them, HELP_SHOWN after printing the help).
// Returns -1 to go on, or the exit status.
template <typename Own>
int parseOneInput(int argc, char** argv, const char* name, std::string& input, Own own) {
  for (int i = 1; i < argc; ++i) {
    int used = own(i);
    if (used == HELP_SHOWN) return 0;
    if (used == 0 && argv[i][0] == '-' && std::strcmp(argv[i], "-")) {
      used = parseCommonOption(argc, argv, i);
      if (used < 0) return 2;
      if (used == 0) return usageError(std::string("unknown option ") + argv[i]);
    }
    if (used > 0) {
      i += used - 1;
    } else if (input.empty()) {
      input = argv[i];
    } else {
      return usageError(std::string(name) + " takes one input");
    }
  }
  if (input.empty()) return usageError(std::string(name) + " needs an input");
  return -1;
}

}  // namespace

int cmdInfo(int argc, char** argv) {
  std::string input;
  bool json = false;
  int status = parseOneInput(argc, argv, "info", input, [&](int i) {
    if (!std::strcmp(argv[i], "--json")) return json = true, 1;
    if (std::strcmp(argv[i], "--help")) return 0;
    std::puts("usage: vlmconv info INPUT [--json] [--ini FILE] [--set KEY=VALUE]...");
    return HELP_SHOWN;
  });
  if (status >= 0) return status;
  setClipboardBackend(&stdioClipboard());
  FormatCode code = 0;
  MemBlock stream;
  if (!readSong(input, &code, &stream)) return 1;
  const uint16_t timebase = streamTimebase(stream);
  // A sound file shows its own coding and rate, not those the conversion re-encodes it to.
  WaveFileSummary waveFile;
  const WaveFileSummary* wave =
      code == FORMAT_WAV && summarizeWaveFile(input, &waveFile) ? &waveFile : nullptr;
  if (json)
    printInfoJson(code, timebase, wave);
  else
    printInfoText(code, timebase, wave);
  blockFree(&stream);
  return 0;
}

int cmdDump(int argc, char** argv) {
  std::string input, stage = "read", to = "2";
  int status = parseOneInput(argc, argv, "dump", input, [&](int i) {
    if (!std::strcmp(argv[i], "--stage") && i + 1 < argc) return stage = argv[i + 1], 2;
    if (!std::strcmp(argv[i], "--to") && i + 1 < argc) return to = argv[i + 1], 2;
    if (std::strcmp(argv[i], "--help")) return 0;
    std::printf(
        "usage: vlmconv dump INPUT [--stage read|transform] [--to CODE] "
        "[--ini FILE] [--set KEY=VALUE]... [window options]\n%s",
        windowOptionsHelp());
    return HELP_SHOWN;
  });
  if (status >= 0) return status;
  if (stage != "read" && stage != "transform") return usageError("--stage is read or transform");
  const OutputFormat* target = findOutputFormat(to.c_str());
  if (!target) return usageError(unknownFormatText(to));
  setClipboardBackend(&stdioClipboard());
  FormatCode code = 0;
  MemBlock stream;
  if (!readSong(input, &code, &stream)) return 1;
  if (stage == "transform") {
    runState.currentOutputCode = target->code;
    applyOutputPreset(target->code);
    adjustForRun(target->code);
    MemBlock out;
    blockInit(&out, size_t(stream.length) + WORK_BUFFER_MARGIN);
    int32_t produced = 0;
    transformStream(stream.data, uint32_t(stream.length), out.data, &produced,
                    uint32_t(blockCapacity(out.handle)));
    out.length = produced;
    blockFree(&stream);
    stream = out;
  }
  std::string text = dumpStream(stream.data, uint32_t(stream.length));
  for (const smaf::Voice& voice : smaf::songVoices()->voices) text += smaf::dumpVoice(voice);
  std::fwrite(text.data(), 1, text.size(), stdout);
  blockFree(&stream);
  return 0;
}

}  // namespace vlm::cli
