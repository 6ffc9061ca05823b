// The conversion run: one input image through the reader, the fade pass, the transform and the
// writer, alternating between two work buffers, then delivered to a file, the clipboard or a
// mail file. Every convert command and every playback goes through it.
#include "convert/conversion_run.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/codec.h"
#include "core/vstream.h"
#include "formats/smaf_voice.h"
#include "platform/clipboard.h"
#include "util/files.h"
#include "util/memblock.h"
#include "writers/melody_mail.h"

namespace vlm {

namespace {

// Bytes of an i-melody file that a melody mail carries on most handsets.
constexpr int32_t MAIL_TEXT_BYTES = 500;

// The song's texts and marks as the format dialog of a convert command left them; the run puts
// them back over what its reader found, so that what the user typed is what the writer writes.
thread_local const SongRecord* keptSong = nullptr;

// Answers every dialog with its default and shows nothing: the state of a run without a user.
class SilentUi : public ConversionUi {
 public:
  bool formatDialog(int, FormatCode) override { return true; }
  bool mailDialog() override { return true; }
  bool saveDialog(std::string&, FormatCode) override { return true; }
  bool warningBox(const char*) override { return true; }
  void noticeBox(const char*) override {}
  void errorBox(const char*) override {}
  void openWithShell(const char*) override {}
  void setTitle(const char*) override {}
};

SilentUi silentUi;
ConversionUi* currentUi = &silentUi;
PlaybackFileHook playbackHook = nullptr;

constexpr const char* WINDOW_TITLE_SUFFIX = "VlmPlayer";

// The three blocks of one run, freed on every path.
struct RunBlocks {
  MemBlock block[3];
  int current = 0;

  ~RunBlocks() {
    for (MemBlock& b : block) blockFree(&b);
  }
  int next() const { return current == 1 ? 2 : 1; }
  uint32_t capacity(int index) const { return uint32_t(blockCapacity(block[index].handle)); }
};

bool loadInput(const char* input, MemBlock& into) {
  if (isClipboardPath(input)) return blockFromClipboard(&into) == 1 && into.length > 0;
  return blockLoadFile(&into, input) == 1;
}

// Runs one stage from the current block into the other; the other becomes current.
void runStage(RunBlocks& blocks, StageFn stage, uint32_t capacity) {
  MemBlock& src = blocks.block[blocks.current];
  MemBlock& dst = blocks.block[blocks.next()];
  int32_t produced = 0;
  stage(src.data, uint32_t(src.length), dst.data, &produced, capacity);
  dst.length = std::max<int32_t>(produced, 0);
  blocks.current = blocks.next();
}

// Melody-mail texts are decoded to their binary image before reading: an i-melody text is any
// image that does not start as the binary file does, a P-melody text starts with its letter.
void base64Step(RunBlocks& blocks, const InputFormat& format) {
  MemBlock& src = blocks.block[blocks.current];
  if (src.length <= 0 || !(format.flags & INPUT_MAIL_TEXT)) return;
  const FormatCode inputCode = format.code;
  int start = -1;
  if (inputCode == FORMAT_MLD && src.data[0] != 'm') start = 0;
  if (inputCode == FORMAT_DAT && (src.data[0] == 'A' || src.data[0] == 'B')) start = 1;
  if (start < 0) return;
  MemBlock& dst = blocks.block[blocks.next()];
  uint32_t produced =
      decodeMelodyText(reinterpret_cast<const char*>(src.data), uint32_t(src.length), dst.data,
                       blocks.capacity(blocks.next()), start);
  if (produced == 0) return;
  dst.length = int32_t(produced);
  blocks.current = blocks.next();
}

// A stream with a wave that carries samples: the song has voice data.
bool streamHasVoiceSamples(const MemBlock& stream) {
  TrackTable table;
  loadTrackTable(table, stream.data, uint32_t(stream.length));
  StreamEvent ev;
  while (nextStreamEvent(table, ev))
    if (ev.status == ST_META && ev.metaType == META_WAVE && ev.length >= 2 &&
        ev.data[1] != WAVE_RATE_NONE)
      return true;
  return false;
}

// A .vlm image goes to the transform as it is, but the transform and the writers read the song's
// statistics: gather them by submitting the stream's events once more into a scratch buffer.
void gatherStreamStats(const MemBlock& stream, MemBlock& scratch) {
  TrackTable table;
  loadTrackTable(table, stream.data, uint32_t(stream.length));
  resetSongStats();
  beginStream();
  writer.timebase = table.timebase ? table.timebase : 48;
  const uint32_t capacity = uint32_t(blockCapacity(scratch.handle));
  writeHeaderChunk(scratch.data);
  writeTrackChunk(scratch.data);
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    uint8_t status = ev.status;
    if (status == ST_META && ev.metaType == META_END_OF_TRACK) continue;
    std::vector<uint8_t> data;
    if (status == ST_META) {
      data.push_back(ev.metaType);
      uint8_t length[5];
      data.insert(data.end(), length, length + writeVarLen(length, ev.length));
    } else if (status == ST_EXCLUSIVE) {
      uint8_t length[5];
      data.insert(data.end(), length, length + writeVarLen(length, ev.length));
    }
    data.insert(data.end(), ev.data, ev.data + ev.length);
    // Notes carry their durations: submit them as timed notes.
    if ((status & 0xF0) == ST_NOTE) status = uint8_t(ST_TIMED_NOTE | (status & 0x0F));
    if (!submitEvent(scratch.data, capacity, ev.time, status, 0, data.data(),
                     uint32_t(data.size())))
      break;
  }
  finishStream(scratch.data);
  endStream();
  reportRead(uint32_t(stream.length), uint32_t(stream.length), table.truncated);
}

// Base64 text of a melody: 4 characters per 3 bytes, a line break per 72 characters, the marker.
size_t melodyTextCapacity(size_t bytes) {
  return bytes * 4 / 3 + bytes / 27 + 64;
}

int deliver(RunBlocks& blocks, const char* output) {
  MemBlock& image = blocks.block[blocks.current];
  MemBlock& text = blocks.block[blocks.next()];
  const size_t needed = melodyTextCapacity(size_t(image.length));
  const bool asText = isClipboardPath(output) || (runState.MailFlags & MAIL_FILE);
  if (asText && blocks.capacity(blocks.next()) < needed && !blockResize(&text, needed)) return 0;

  if (isClipboardPath(output)) {
    uint32_t length = encodeMelodyText(image.data, uint32_t(image.length),
                                       reinterpret_cast<char*>(text.data), uint32_t(needed), 1);
    runState.lastOutputSize = int32_t(length);
    putClipboardText(reinterpret_cast<const char*>(text.data), length);
  } else if (runState.MailFlags & MAIL_FILE) {
    const int marker = (runState.MailFlags & MAIL_TEXT_FORM) ? 1 : 0;
    uint32_t length =
        encodeMelodyText(image.data, uint32_t(image.length), reinterpret_cast<char*>(text.data),
                         uint32_t(needed), marker);
    runState.lastOutputSize = int32_t(length);
    // The message is the text plus a few header lines.
    const size_t messageSize = length + 1024 + runState.mailTo.size() +
                               runState.mailSubject.size() + runState.mailAttachment.size();
    MemBlock message;
    if (!blockInit(&message, messageSize)) return 0;
    uint32_t messageLength =
        composeMelodyMail(reinterpret_cast<const char*>(text.data), length,
                          reinterpret_cast<char*>(message.data), uint32_t(messageSize), marker);
    const int saved = saveFile(output, message.data, messageLength);
    blockFree(&message);
    if (!saved) return 0;
    conversionUi().openWithShell(output);
  } else {
    runState.lastOutputSize = image.length;
    // A file that could not be written is not delivered, and the caller must hear of it.
    if (!saveFile(output, image.data, size_t(image.length))) return 0;
  }
  return 1;
}

// The attachment name of a mail: the first 8 bytes of the base name, safe characters only.
std::string attachmentName(const char* input, const char* extension) {
  PathParts parts;
  splitPath(input, &parts);
  std::string name;
  for (size_t i = 0; i < 8 && i < parts.name.size(); ++i) {
    const uint8_t c = uint8_t(parts.name[i]);
    if (c < 0x20 || c >= 0x80) break;
    const bool kept = c == 0x21 || c == 0x2D || (c >= 0x23 && c <= 0x29) ||
                      (c >= 0x30 && c <= 0x39) || (c >= 0x40 && c <= 0x5A) ||
                      (c >= 0x60 && c <= 0x7A);
    name += kept ? char(c) : '_';
  }
  if (name.empty()) name = "melody";
  return name + extension;
}

// Remembers the format dialog's size and timebase in the settings.
void rememberDialogChoices(FormatCode c, const OutputFormat& format) {
  const int limit = runState.outputSizeLimit;
  const int timebase = options.preset.targetTimebase;
  const bool mailText = isImelodyOutput(c) && (runState.MailFlags & MAIL_TEXT_FORM);
  if (!mailText) setOutputSizeSetting(format, limit);
  if (format.timebaseKey) options.*format.timebaseKey = timebase;
  if (mailText) runState.outputSizeLimit = binaryLimitForMailText(runState.mailTextLimit);
}

// Appends a message in the interface's language with its "%d" replaced by the number. The
// number goes in by hand, not through printf, so that a translated text can never become a
// format that reads arguments that are not there.
void appendLine(std::string& text, const char* japanese, int value) {
  std::string line = conversionUi().localText(japanese);
  const size_t at = line.find("%d");
  if (at != std::string::npos) line.replace(at, 2, std::to_string(value));
  text += line;
}

void appendLine(std::string& text, const char* japanese) {
  text += conversionUi().localText(japanese);
}

}  // namespace

void setConversionUi(ConversionUi* ui) {
  currentUi = ui ? ui : &silentUi;
}
ConversionUi& conversionUi() {
  return *currentUi;
}
void setPlaybackFileHook(PlaybackFileHook hook) {
  playbackHook = hook;
}

std::string writableDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/share";
  }
  const std::string dir = base + "/vlmplay/";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

int32_t binaryLimitForMailText(int32_t mailTextLimit) {
  const int32_t n = mailTextLimit - 7;  // the marker line and its line break
  if (n <= 0) return 0;
  return 3 * ((72 * (n / 74) + n % 74) / 4);
}

namespace {

// Steps shared by every run: load the input, decode a melody-mail text, and (unless the image
// is only copied or mailed) read it into a VStream. 0 when nothing can be read.
int loadAndRead(RunBlocks& blocks, const char* input, FormatCode inputCode, bool read) {
  if (!loadInput(input, blocks.block[0])) return 0;
  const size_t workSize = size_t(blocks.block[0].length) + WORK_BUFFER_MARGIN;
  if (!blockInit(&blocks.block[1], workSize) || !blockInit(&blocks.block[2], workSize)) return 0;
  const InputFormat* in = findInputFormat(inputCode);
  if (!in) return 0;
  base64Step(blocks, *in);
  if (!read) return 1;
  // Not every reader finds texts to set: in a batch, the title and marks of the previous file
  // would otherwise be written into this one.
  clearSongInfo();
  song.read = ReadReport();  // each reader says where it stopped
  smaf::clearSongVoices();   // only a SMAF reader sets the file's own voices
  if (in->reader) {
    runStage(blocks, in->reader, blocks.capacity(blocks.next()));
  } else {
    gatherStreamStats(blocks.block[blocks.current], blocks.block[blocks.next()]);
  }
  if (in->flags & INPUT_PROTECTED) song.ProtectFlags = PROTECT_COPY;
  song.fileSize = uint32_t(blocks.block[0].length);
  // A reader's stream came through the emitter, which saw every wave event; a .vlm image did
  // not, so it is always looked through.
  const bool mayHaveWaves = !in->reader || waveEventWritten();
  songStats.hasVoiceSamples = mayHaveWaves && streamHasVoiceSamples(blocks.block[blocks.current]);
  return 1;
}

}  // namespace

int readInput(const char* input, FormatCode inputCode, MemBlock* stream) {
  RunBlocks blocks;
  if (!loadAndRead(blocks, input, inputCode, true)) return 0;
  *stream = blocks.block[blocks.current];
  blocks.block[blocks.current] = MemBlock();
  return 1;
}

int runConversion(const char* input, const char* output, FormatCode inputCode,
                  FormatCode outputCode) {
  RunBlocks blocks;
  const bool convert = outputCode != OUTPUT_COPY && outputCode != OUTPUT_MAIL;
  if (!loadAndRead(blocks, input, inputCode, convert)) return 0;
  if (convert && keptSong) {
    std::memcpy(&song.info, &keptSong->info, sizeof song.info);
    song.ProtectFlags = keptSong->ProtectFlags;
  }
  if (convert) {
    const OutputFormat* out = findOutputFormat(outputCode);
    if (!out || !out->writer) return 0;
    const SongStats savedStats = songStats;
    const ConversionOptions savedOptions = options;
    adjustForRun(outputCode);
    if (options.fadeIn || options.fadeOut)
      runStage(blocks, fadeStream, blocks.capacity(blocks.next()));
    runStage(blocks, transformStream, blocks.capacity(blocks.next()));
    // The writer never gets more room than its buffer has, whatever the limit says.
    uint32_t capacity = blocks.capacity(blocks.next());
    if (runState.outputSizeLimit > 0)
      capacity = std::min(capacity, uint32_t(runState.outputSizeLimit));
    runStage(blocks, out->writer, capacity);
    songStats = savedStats;
    options = savedOptions;
  }
  return deliver(blocks, output);
}

int preparePlayback(const char* input, const char* tempPath) {
  PathParts parts;
  splitPath(input, &parts);
  const std::string title =
      "[" + parts.name + parts.extension + "] " + std::string(WINDOW_TITLE_SUFFIX);
  conversionUi().setTitle(title.c_str());

  const FormatCode code = detectFormat(input);
  if (code <= 0) return 0;
  runState.outputSizeLimit = 0;
  runState.forPlayback = true;
  applyOutputPreset(FORMAT_SMF);
  const int result = runConversion(input, tempPath, code, FORMAT_SMF);
  if (result) {
    if (playbackHook) playbackHook(input, tempPath);
  } else {
    resetSongStats();
  }
  return result;
}

std::string collectWarnings(FormatCode c, const OutputFormat* format) {
  std::string text;
  const TargetPreset& p = options.preset;
  if (warnings.slot[WARN_TOO_MANY_VOICES])
    appendLine(text, "音色数が%dを越えています。\r\n", p.polyphony);
  if (warnings.slot[WARN_TOO_MANY_TRACKS])
    appendLine(text, "和音分解によるトラック数が%dを超えています。\r\n", p.polyphony);
  if (warnings.slot[WARN_TOO_MANY_CHANNELS])
    appendLine(text, "使用音色チャンネル数が%dを越えています。\r\n", p.channelCount);
  if (warnings.slot[WARN_VOLUME_CLIPS])
    appendLine(text, "音量が大きすぎるので音割れする可能性があります。\r\n");
  if (warnings.slot[WARN_SIZE_LIMIT])
    appendLine(text, "指定サイズを超えたので、曲の途中までしか変換できませんでした。\r\n");
  if (warnings.slot[WARN_NO_SAMPLES])
    appendLine(text, "PCMファイルでは無いので変換できませんでした。\r\n");
  if (songStats.hasVoiceSamples && c != OUTPUT_COPY && c != OUTPUT_MAIL &&
      !(format && (format->traits & OUT_WAVE_DATA)))
    appendLine(text, "この形式は音声の変換に対応していません。\r\n");
  // Handsets whose melody mail takes more than 500 bytes.
  const bool longMail = hasOutputTrait(c, OUT_LONG_MAIL);
  if (isImelodyOutput(c) && (runState.MailFlags & MAIL_TEXT_FORM) &&
      runState.lastOutputSize > MAIL_TEXT_BYTES && !longMail)
    appendLine(text, "500byteを越えています。メロディメールでは送れません。(%dbyte)\r\n",
               runState.lastOutputSize);
  return text;
}

int convertCommand(const char* input, FormatCode c) {
  int result = 0;
  const FormatCode inputCode = detectFormat(input);
  const OutputFormat* format = findOutputFormat(c);
  auto finish = [&]() {
    runState.MailFlags = 0;
    runState.keepSongRecord = false;
    warnings = ConversionWarnings();
    return result;
  };
  if (inputCode <= 0 || !format) return finish();
  runState.forPlayback = false;

  // The output's extension, size limit and melody-mail text length.
  PathParts parts;
  splitPath(input, &parts);
  std::string extension;
  if (c == OUTPUT_COPY || c == OUTPUT_MAIL) {
    if (c == OUTPUT_MAIL) runState.MailFlags = MAIL_FILE;
    extension = strcasecmp(parts.extension.c_str(), ".txt") == 0 ? ".mld" : parts.extension;
    runState.outputSizeLimit = 0;
  } else {
    extension = format->extension;
    runState.outputSizeLimit = outputSizeSetting(*format);
    runState.mailTextLimit = format->mailTextLimit;
  }
  runState.currentOutputCode = c;
  applyOutputPreset(c);
  if (c != OUTPUT_COPY && c != OUTPUT_MAIL && !conversionUi().formatDialog(format->dialog, c))
    return finish();

  std::string outputPath = replacePathParts(input, nullptr, nullptr, nullptr, extension.c_str());
  const bool mld = strcasecmp(extension.c_str(), ".mld") == 0;
  if (mld && runState.MailFlags == MAIL_TEXT_FORM) {
    outputPath = CLIPBOARD_FILE;
  } else if (runState.MailFlags & MAIL_FILE) {
    outputPath = writableDataDir() + "melody.eml";
    runState.mailAttachment = attachmentName(input, extension.c_str());
    if (!conversionUi().mailDialog()) return finish();
    if (!options.shamezoflg &&
        (isImelodyOutput(c) || (inputCode == FORMAT_MLD && c == OUTPUT_MAIL)))
      runState.MailFlags |= MAIL_TEXT_FORM;
  } else if (runState.AutoConvertFlags & AUTO_UNATTENDED) {
    outputPath = options.SaveDir + parts.name + extension;
    if (pathExists(outputPath.c_str())) return finish();
  } else if (!conversionUi().saveDialog(outputPath, c)) {
    return finish();
  }
  rememberDialogChoices(c, *format);

  const char* source = input;
  if (inputCode == FORMAT_QCP && !runState.convertedWavePath.empty())
    source = runState.convertedWavePath.c_str();
  const SongRecord edited = song;
  keptSong = runState.keepSongRecord ? &edited : nullptr;
  result = runConversion(source, outputPath.c_str(), inputCode, c);
  keptSong = nullptr;
  runState.lastOutputPath = (runState.MailFlags & MAIL_FILE) ? "" : outputPath;

  std::string text = collectWarnings(c, format);
  bool noticeAllowed = true;
  if (!text.empty() && !(runState.AutoConvertFlags & AUTO_UNATTENDED))
    noticeAllowed = conversionUi().warningBox(text.c_str());
  if (noticeAllowed && mld && runState.MailFlags == MAIL_TEXT_FORM) {
    const std::string notice = conversionUi().localText(
        "メロディメールをクリップボードに作成しました。\r\nメール本文に貼り付けしてください。");
    conversionUi().noticeBox(notice.c_str());
  }
  return finish();
}

}  // namespace vlm
