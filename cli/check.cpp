// vlmconv check: reads every file of a collection and says, one line per file, what it holds and
// whether its reader got through it: read completely, damaged (cut short, stopped early, or not
// readable at all) or unsupported. The exit status is 1 when any file is damaged or unsupported.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/codec.h"
#include "core/vstream.h"
#include "formats/adpcm.h"
#include "formats/smaf_voice.h"
#include "platform/clipboard.h"

namespace vlm::cli {

namespace {

const char* const CHECK_USAGE =
    "usage: vlmconv check PATH... [--json] [-j N]\n"
    "  PATH                 a file, a folder (searched recursively, every file counts) or an\n"
    "                       .m3u list\n"
    "  --json               one JSON object per line instead of text\n"
    "  -j N                 read N files at once\n"
    "Prints one line per file: format, whether the reader read the whole file or stopped early\n"
    "(and where), notes, channels, length in seconds, embedded waves, protection, warnings;\n"
    "then \"N read completely, N damaged, N unsupported\". Exit status 1 when any file is\n"
    "damaged or unsupported, 2 for a usage error.\n";

enum class Verdict { COMPLETE, DAMAGED, UNSUPPORTED };

constexpr uint32_t DEFAULT_TEMPO_MICROS = 500000;

struct WaveInfo {
  std::string codec;
  uint32_t rate;
  uint32_t bytes;
};

// What one file gave; everything the line shows.
struct Finding {
  Verdict verdict = Verdict::UNSUPPORTED;
  std::string path;
  FormatCode code = 0;
  std::string formatName;
  std::string error;  // why the file could not be read at all
  ReadReport read{};
  uint32_t notes = 0;
  int channels = 0;
  double seconds = 0;
  std::vector<WaveInfo> waves;
  std::string voices;  // the SMAF file's own voices, described
  uint8_t protect = 0;
  std::vector<std::string> warnings;
};

// Song length: the latest event or note end, in seconds along the stream's tempo changes.
double streamSeconds(const MemBlock& stream) {
  TrackTable table;
  loadTrackTable(table, stream.data, uint32_t(stream.length > 0 ? stream.length : 0));
  const double timebase = table.timebase ? table.timebase : 48;
  double seconds = 0;
  uint32_t tempo = DEFAULT_TEMPO_MICROS, at = 0, end = 0;
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    end = std::max(end, ev.time);
    if ((ev.status & 0xF0) == ST_NOTE && ev.length >= 4)
      end = std::max(end, ev.time + uint32_t(getBE(ev.data + 2, 2)));
    if (ev.status == ST_META && ev.metaType == META_TEMPO && ev.length >= 3) {
      seconds += double(ev.time - at) * tempo / 1e6 / timebase;
      at = ev.time;
      const uint32_t micros = uint32_t(getBE(ev.data, 3));
      if (micros) tempo = micros;
    }
  }
  if (end > at) seconds += double(end - at) * tempo / 1e6 / timebase;
  return seconds;
}

// The coding of a wave: the SMAF reader names each wave's own; i-melody waves are decoded with
// the codec of AdpcmCodec.
std::string waveCodec(const WaveEntry& wave, FormatCode code) {
  if (code == FORMAT_SMAF || code == FORMAT_SMZ_SMAF) return waveCodingName(wave.coding);
  return waveCodingName(AdpcmCodec);
}

const char* const WARNING_TEXTS[WARNING_SLOTS] = {"too many voices",
                                                  "too many tracks from chord splitting",
                                                  "too many voice channels",
                                                  "volume may clip",
                                                  "output size limit reached",
                                                  "wave data without samples"};

// A file that its name or first bytes sent to a reader that found nothing of its format in it:
// no header, no chunk, no note, no wave. It is some other kind of file, not a damaged song.
bool isForeign(const Finding& f) {
  const bool samples =
      std::any_of(f.waves.begin(), f.waves.end(), [](const WaveInfo& w) { return w.rate > 0; });
  return f.read.reported && f.read.imageSize > 0 && f.read.stoppedAt == 0 && !f.read.ranOut &&
         f.notes == 0 && !samples;
}

Finding checkOne(const InputFile& file) {
  Finding f;
  f.path = file.path;
  f.code = file.code;
  if (file.error) {
    f.verdict = Verdict::DAMAGED;
    f.error = std::strerror(file.error);
    return f;
  }
  const InputFormat* format = file.code > 0 ? findInputFormat(file.code) : nullptr;
  if (format) {  // "i-melody (.mld, .dlm, .txt)": the name without its extensions
    f.formatName = format->name;
    const size_t paren = f.formatName.find(" (.");
    if (paren != std::string::npos) f.formatName.resize(paren);
  }
  if (!format) {
    f.error = "not a supported song file";
    return f;
  }
  WaveFileSummary waveFile;
  const bool isWaveFile = file.code == FORMAT_WAV && summarizeWaveFile(file.path, &waveFile);
  if (isWaveFile && !waveFile.decodable) {
    f.error = "its coding, " + waveFile.coding +
              ", is not supported (PCM, IMA ADPCM and Microsoft ADPCM are)";
    return f;
  }
  resetRun();
  clearFileFailure();
  MemBlock stream;
  std::string unsupported;
  if (!readCommandInput(file.path, file.code, &stream, &unsupported)) {
    if (!unsupported.empty()) {
      f.error = unsupported;
      return f;
    }
    f.verdict = Verdict::DAMAGED;
    const FileFailure& failure = lastFileFailure();
    f.error = failure.op == FileOp::READ
                  ? (failure.error ? std::strerror(failure.error) : std::string("empty file"))
                  : std::string("cannot be read");
    return f;
  }
  f.read = song.read;
  f.protect = song.ProtectFlags;
  for (const ChannelStats& ch : songStats.ch) {
    f.notes += ch.notes;
    f.channels += ch.notes > 0;
  }
  f.seconds = streamSeconds(stream);
  f.voices = smaf::describeVoices(*smaf::songVoices());
  for (int i = 0; i < songStats.waveCount && i < MAX_WAVES; ++i) {
    const WaveEntry& w = songStats.waves[i];
    f.waves.push_back({waveCodec(w, file.code), w.sampleRate, w.length});
  }
  // A sound file shows its own coding and rate, not those the conversion re-encodes it to.
  if (isWaveFile && !f.waves.empty() && f.waves[0].rate > 0)
    f.waves.assign(1, {waveFile.coding, waveFile.rate, waveFile.dataBytes});
  for (int slot = 0; slot < WARNING_SLOTS; ++slot)
    if (warnings.slot[slot]) f.warnings.push_back(WARNING_TEXTS[slot]);
  if (f.notes == 0 && f.waves.empty()) f.warnings.push_back("no notes");
  blockFree(&stream);
  if (isForeign(f)) {
    f.verdict = Verdict::UNSUPPORTED;
    f.error = "the file holds nothing of this format";
    return f;
  }
  const bool damaged = f.read.reported && (f.read.ranOut || f.read.stoppedAt < f.read.imageSize ||
                                           f.read.checksumBad || f.read.damage);
  f.verdict = f.read.unsupported ? Verdict::UNSUPPORTED
              : damaged          ? Verdict::DAMAGED
                                 : Verdict::COMPLETE;
  return f;
}

std::string protectText(uint8_t flags) {
  std::string text;
  if (flags & PROTECT_COPY) text += "copy ";
  if (flags & PROTECT_SAVE) text += "save ";
  if (flags & PROTECT_EDIT) text += "edit ";
  if (text.empty()) return "none";
  text.pop_back();
  return text;
}

std::string readText(const Finding& f) {
  char text[128];
  if (!f.read.reported) return "read (the reader keeps no record of where it stopped)";
  if (f.read.unsupported) return std::string("cannot decode ") + f.read.unsupported;
  if (f.read.checksumBad && !f.read.ranOut && f.read.stoppedAt >= f.read.imageSize)
    std::snprintf(text, sizeof text, "read to its end (%u bytes), but its checksum does not match",
                  f.read.imageSize);
  else if (f.read.damage)
    std::snprintf(text, sizeof text, "damaged (%s)", f.read.damage);
  else if (f.read.ranOut)
    std::snprintf(text, sizeof text, "cut short: needs more than its %u bytes", f.read.imageSize);
  else if (f.read.stoppedAt < f.read.imageSize)
    std::snprintf(text, sizeof text, "stopped early at %u of %u bytes", f.read.stoppedAt,
                  f.read.imageSize);
  else
    std::snprintf(text, sizeof text, "read completely (%u bytes)", f.read.imageSize);
  return text;
}

const char* verdictName(Verdict v) {
  return v == Verdict::COMPLETE ? "complete" : v == Verdict::DAMAGED ? "damaged" : "unsupported";
}

std::string textLine(const Finding& f) {
  std::string verdict = verdictName(f.verdict);
  if (f.verdict == Verdict::DAMAGED && f.read.checksumBad) verdict += " (checksum)";
  std::string line = verdict + "\t" + f.path + ": ";
  if (!f.error.empty()) {
    if (!f.formatName.empty()) line += f.formatName + ": ";
    return line + f.error;
  }
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "; %u notes, %d channels, %.1f s", f.notes, f.channels,
                f.seconds);
  line += f.formatName + " (" + std::to_string(f.code) + "); " + readText(f) + numbers;
  if (!f.waves.empty()) {
    line += "; waves:";
    for (const WaveInfo& w : f.waves)
      line += " " + w.codec + (w.rate ? " " + std::to_string(w.rate) + " Hz" : " (no samples)");
  }
  if (!f.voices.empty()) line += "; voices: " + f.voices;
  line += "; protect " + protectText(f.protect);
  if (!f.warnings.empty()) {
    line += "; warnings:";
    for (size_t i = 0; i < f.warnings.size(); ++i) line += (i ? ", " : " ") + f.warnings[i];
  }
  return line;
}

std::string jsonLine(const Finding& f) {
  std::string line = "{\"path\": " + jsonString(f.path) + ", \"status\": \"" +
                     verdictName(f.verdict) + "\", \"format\": " + std::to_string(f.code);
  if (!f.formatName.empty()) line += ", \"formatName\": " + jsonString(f.formatName);
  if (!f.error.empty()) return line + ", \"error\": " + jsonString(f.error) + "}";
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                ", \"size\": %u, \"readTo\": %u, \"ranOut\": %s, \"checksumBad\": %s, "
                "\"reported\": %s, \"notes\": %u, \"channels\": %d, \"seconds\": %.3f, "
                "\"protect\": %u",
                f.read.imageSize, f.read.stoppedAt, f.read.ranOut ? "true" : "false",
                f.read.checksumBad ? "true" : "false",
                f.read.reported ? "true" : "false", f.notes, f.channels, f.seconds, f.protect);
  line += numbers;
  line += ", \"waves\": [";
  for (size_t i = 0; i < f.waves.size(); ++i)
    line += std::string(i ? ", " : "") + "{\"codec\": " + jsonString(f.waves[i].codec) +
            ", \"rate\": " + std::to_string(f.waves[i].rate) +
            ", \"bytes\": " + std::to_string(f.waves[i].bytes) + "}";
  line += "]";
  if (!f.voices.empty()) line += ", \"voices\": " + jsonString(f.voices);
  line += ", \"warnings\": [";
  for (size_t i = 0; i < f.warnings.size(); ++i)
    line += std::string(i ? ", " : "") + jsonString(f.warnings[i]);
  return line + "]}";
}

// Prints the lines in the order of the files while workers finish them in any order.
class OrderedPrinter {
 public:
  OrderedPrinter(size_t total, bool progress) : lines_(total), ready_(total), progress_(progress) {}
  void put(size_t index, std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_[index] = std::move(line);
    ready_[index] = true;
    ++done_;
    bool printed = false;
    while (next_ < lines_.size() && ready_[next_]) {
      if (progress_ && !printed) std::fputs("\r\033[K", stderr);
      std::fputs(lines_[next_].c_str(), stdout);
      std::fputc('\n', stdout);
      lines_[next_].clear();
      ++next_;
      printed = true;
    }
    if (printed && progress_) std::fflush(stdout);
    if (progress_) drawProgress(done_, lines_.size());
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<bool> ready_;
  size_t next_ = 0, done_ = 0;
  bool progress_;
};

}  // namespace

int cmdCheck(int argc, char** argv) {
  std::vector<std::string> paths;
  bool json = false;
  int jobs = 1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help")) {
      std::fputs(CHECK_USAGE, stdout);
      return 0;
    } else if (!std::strcmp(a, "--json")) {
      json = true;
    } else if (!std::strcmp(a, "-j")) {
      jobs = i + 1 < argc ? std::atoi(argv[++i]) : 0;
      if (jobs < 1 || jobs > 64) return usageError("-j needs a number from 1 to 64");
    } else if (a[0] == '-' && a[1] != '\0') {
      return usageError(std::string("unknown option ") + a);
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return usageError("check needs at least one path");
  setClipboardBackend(&stdioClipboard());
  const std::vector<InputFile> files = expandInputFiles(paths, true);

  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  OrderedPrinter printer(files.size(), progress);
  std::atomic<size_t> nextIndex{0};
  std::atomic<size_t> counts[3] = {0, 0, 0};
  auto worker = [&]() {
    for (size_t i = nextIndex++; i < files.size(); i = nextIndex++) {
      const Finding f = checkOne(files[i]);
      ++counts[int(f.verdict)];
      printer.put(i, json ? jsonLine(f) : textLine(f));
    }
  };
  const size_t threads = std::min<size_t>(size_t(jobs), files.size());
  if (threads <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }
  std::fflush(stdout);
  // The progress bar's line is cleared, so the summary starts on a line of its own.
  if (progress) std::fputs("\r\033[K", stderr);
  const size_t complete = counts[0], damaged = counts[1], unsupported = counts[2];
  std::fprintf(stderr, "%zu read completely, %zu damaged, %zu unsupported\n", complete, damaged,
               unsupported);
  return damaged || unsupported ? 1 : 0;
}

}  // namespace vlm::cli
