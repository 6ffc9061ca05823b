// Parsing of the main window's values given on the command line.
#include "cli/window_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "convert/options.h"

namespace vlm {

namespace {

constexpr int MAX_PERCENT = 500;
constexpr int MAX_TEMPO_RATIO = 65535;
constexpr int MAX_KEY_SHIFT = 127;
constexpr int MAX_OCTAVE_SHIFT = 10;
constexpr int MAX_VOICES = 64;

bool parseNumber(const char* text, long min, long max, long* value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno || *end || v < min || v > max) return false;
  *value = v;
  return true;
}

// "CH=N" with CH 1..16.
bool parseChannelValue(const char* text, long min, long max, int* channel, long* value) {
  const char* eq = text ? std::strchr(text, '=') : nullptr;
  if (!eq) return false;
  const std::string ch(text, size_t(eq - text));
  long c = 0;
  if (!parseNumber(ch.c_str(), 1, 16, &c) || !parseNumber(eq + 1, min, max, value)) return false;
  *channel = int(c) - 1;
  return true;
}

// "1-4,10": 1-based channels, comma-separated numbers and ranges; the channels in order.
bool parseChannelList(const char* text, int* list, int* count) {
  *count = 0;
  if (!text || !*text) return false;
  std::string s(text);
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    if (comma == std::string::npos) comma = s.size();
    const std::string item = s.substr(start, comma - start);
    const size_t dash = item.find('-');
    long a = 0, b = 0;
    if (dash == std::string::npos) {
      if (!parseNumber(item.c_str(), 1, 16, &a)) return false;
      b = a;
    } else if (!parseNumber(item.substr(0, dash).c_str(), 1, 16, &a) ||
               !parseNumber(item.substr(dash + 1).c_str(), 1, 16, &b) || b < a) {
      return false;
    }
    for (long c = a; c <= b; ++c) {
      if (*count >= 16) return false;
      list[(*count)++] = int(c);
    }
    start = comma + 1;
  }
  return *count > 0;
}

bool isOption(const char* arg, const char* name) {
  return std::strcmp(arg, name) == 0;
}

}  // namespace

int parseWindowOption(int argc, char** argv, int i, std::string& err) {
  if (i < 0 || i >= argc || !argv[i]) return 0;
  const char* arg = argv[i];
  ConversionOptions& o = options;

  // Flags without a value.
  if (isOption(arg, "--cut")) {
    o.cutRange = true;
    return 1;
  }
  if (isOption(arg, "--fade-in")) {
    o.fadeIn = true;
    return 1;
  }
  if (isOption(arg, "--fade-out")) {
    o.fadeOut = true;
    return 1;
  }

  static const char* const VALUED[] = {
      "--key",      "--tempo",  "--volume",  "--velocity", "--channel-volume", "--channel-velocity",
      "--channels", "--octave", "--program", "--priority", "--max-voices",     "--range"};
  bool known = false;
  for (const char* name : VALUED) known = known || isOption(arg, name);
  if (!known) return 0;
  if (i + 1 >= argc || !argv[i + 1]) {
    err = std::string(arg) + ": value missing";
    return -1;
  }
  const char* value = argv[i + 1];
  auto bad = [&](const char* form) {
    err = std::string(arg) + ": bad value \"" + value + "\" (expected " + form + ")";
    return -1;
  };
  long v = 0;
  int ch = 0;

  if (isOption(arg, "--key")) {
    if (!parseNumber(value, -MAX_KEY_SHIFT, MAX_KEY_SHIFT, &v)) return bad("semitones");
    o.keyShift = int(v);
  } else if (isOption(arg, "--tempo")) {
    if (!parseNumber(value, 1, MAX_TEMPO_RATIO, &v)) return bad("1..65535, 256 = 100 %");
    o.tempoRatio = int(v);
  } else if (isOption(arg, "--volume")) {
    if (!parseNumber(value, 0, MAX_PERCENT, &v)) return bad("0..500 percent");
    o.volumePercent = int(v);
  } else if (isOption(arg, "--velocity")) {
    if (!parseNumber(value, 0, MAX_PERCENT, &v)) return bad("0..500 percent");
    o.velocityPercent = int(v);
  } else if (isOption(arg, "--channel-volume")) {
    if (!parseChannelValue(value, 0, MAX_PERCENT, &ch, &v)) return bad("CH=0..500");
    o.channelVolumePercent[ch] = int(v);
  } else if (isOption(arg, "--channel-velocity")) {
    if (!parseChannelValue(value, 0, MAX_PERCENT, &ch, &v)) return bad("CH=0..500");
    o.channelVelocityPercent[ch] = int(v);
  } else if (isOption(arg, "--channels")) {
    int list[16], n = 0;
    if (!parseChannelList(value, list, &n)) return bad("a list such as 1-4,10");
    uint16_t mask = 0;
    for (int k = 0; k < n; ++k) mask = uint16_t(mask | 1u << (list[k] - 1));
    o.channelMask = mask;
  } else if (isOption(arg, "--octave")) {
    if (!parseChannelValue(value, -MAX_OCTAVE_SHIFT, MAX_OCTAVE_SHIFT, &ch, &v))
      return bad("CH=-10..10");
    o.octaveShift[ch] = int(v);
  } else if (isOption(arg, "--program")) {
    if (!parseChannelValue(value, 0, 128, &ch, &v)) return bad("CH=1..128, 0 = the song's");
    o.programOverride[ch] = int(v) - 1;
  } else if (isOption(arg, "--priority")) {
    int list[16], n = 0;
    if (!parseChannelList(value, list, &n)) return bad("a list such as 10,1-9");
    bool seen[17] = {};
    int k = 0;
    for (int j = 0; j < n; ++j) {
      if (seen[list[j]]) return bad("each channel once");
      seen[list[j]] = true;
      o.channelPriority[k++] = uint8_t(list[j]);
    }
    // The channels not named follow in their own order.
    for (int c = 1; c <= 16; ++c)
      if (!seen[c]) o.channelPriority[k++] = uint8_t(c);
  } else if (isOption(arg, "--max-voices")) {
    if (!parseChannelValue(value, 0, MAX_VOICES, &ch, &v)) return bad("CH=0..64, 0 = not set");
    o.channelMaxVoices[ch] = uint8_t(v);
  } else if (isOption(arg, "--range")) {
    const char* colon = std::strchr(value, ':');
    if (!colon) return bad("START:END in sixteenth notes");
    const std::string start(value, size_t(colon - value));
    long a = 0, b = 0;
    if (!parseNumber(start.c_str(), 0, 0x7FFFFFFF, &a) ||
        !parseNumber(colon + 1, 0, 0x7FFFFFFF, &b))
      return bad("START:END in sixteenth notes");
    o.rangeStart = uint32_t(a);
    o.rangeEnd = uint32_t(b);
  }
  return 2;
}

const char* windowOptionsHelp() {
  return "  --key N                 key shift in semitones (signed)\n"
         "  --tempo N               tempo ratio in 1/256 (256 = 100 %)\n"
         "  --volume P              volume percent (0..500)\n"
         "  --velocity P            velocity percent (0..500)\n"
         "  --channel-volume CH=P   volume percent of one channel (CH 1..16)\n"
         "  --channel-velocity CH=P velocity percent of one channel\n"
         "  --channels LIST         channels to convert, e.g. 1-4,10 (default all)\n"
         "  --octave CH=N           octave shift of one channel\n"
         "  --program CH=N          program 1..128 for one channel (0 = the song's)\n"
         "  --priority LIST         channel priority order, e.g. 10,1-9\n"
         "  --max-voices CH=N       maximum voices of one channel (0 = not set)\n"
         "  --range START:END       range in sixteenth notes (kept; cut with --cut)\n"
         "  --cut                   cut the range out instead of keeping it\n"
         "  --fade-in               fade in from the range start\n"
         "  --fade-out              fade out to the range end\n";
}

}  // namespace vlm
