// render, play and extract-waves on the command line. Each prepares playback the way the player
// does (the conversion run into a temporary Standard MIDI File) and then renders it offline,
// plays it through the audio output, or writes the song's voice samples as WAVE files.
#include "cli/playback_commands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/window_options.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/options.h"
#include "formats/adpcm.h"
#include "platform/audio.h"
#include "platform/sequencer.h"
#include "playback/handset_player.h"
#include "playback/handset_song.h"
#include "playback/player.h"
#include "playback/render.h"
#include "playback/waves.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

namespace {

namespace fs = std::filesystem;

const char* const RENDER_USAGE =
    "usage: vlmconv render INPUT -o OUT.wav [--soundfont FILE.sf2] [--rate HZ] [--cores N]\n"
    "                      [--synth handset|gm] [--ini FILE] [--set KEY=VALUE]...\n"
    "                      [main-window options]\n"
    "Renders the song to a 16-bit stereo WAVE file, faster than real time, with N synthesis\n"
    "threads (default: chosen from the song, usually one). A SMAF file that defines its own\n"
    "voices plays them through the handset synthesizer (--synth gm: General MIDI only).\n";
const char* const PLAY_USAGE =
    "usage: vlmconv play INPUT [--soundfont FILE.sf2] [--synth handset|gm] [--ini FILE]\n"
    "                    [--set KEY=VALUE]...\n"
    "                    [main-window options]\n"
    "Plays the song through the audio output; Ctrl+C stops.\n";
const char* const EXTRACT_USAGE =
    "usage: vlmconv extract-waves INPUT -d DIR\n"
    "Writes every voice sample the song carries as its own 8-bit WAVE file.\n";

struct PlaybackArgs {
  std::string input, output, directory;
  uint32_t rate = DEFAULT_RENDER_RATE;
  int cores = 0;  // 0: one per core
  bool help = false;
};

// Parses the arguments of one command; `allowed` lists the options it takes. -1: usage error
// (already printed), 0: fine.
int parseArgs(int argc, char** argv, const char* allowed, PlaybackArgs* args, bool common) {
  auto takes = [&](const char* name) { return std::strstr(allowed, name) != nullptr; };
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) return cli::usageError(std::string(a) + " needs a value"), false;
      *into = argv[++i];
      return true;
    };
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      args->help = true;
    } else if (!std::strcmp(a, "-o") && takes("-o")) {
      if (!value(&args->output)) return -1;
    } else if (!std::strcmp(a, "-d") && takes("-d")) {
      if (!value(&args->directory)) return -1;
    } else if (!std::strcmp(a, "--soundfont") && takes("--soundfont")) {
      std::string sf;
      if (!value(&sf)) return -1;
      if (!fs::is_regular_file(sf)) return cli::usageError("SoundFont not found: " + sf), -1;
      options.soundfont = sf;
    } else if (!std::strcmp(a, "--synth") && takes("--synth")) {
      std::string v;
      if (!value(&v)) return -1;
      if (v != "handset" && v != "gm")
        return cli::usageError("--synth takes handset or gm, not " + v), -1;
      options.synth = v;
    } else if (!std::strcmp(a, "--rate") && takes("--rate")) {
      std::string v;
      if (!value(&v)) return -1;
      char* end = nullptr;
      long hz = std::strtol(v.c_str(), &end, 10);
      if (!end || *end || hz < 8000 || hz > 192000)
        return cli::usageError("--rate needs a sample rate from 8000 to 192000 Hz"), -1;
      args->rate = uint32_t(hz);
    } else if (!std::strcmp(a, "--cores") && takes("--cores")) {
      std::string v;
      if (!value(&v)) return -1;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (!end || *end || n < 1 || n > MAX_RENDER_CORES)
        return cli::usageError("--cores needs a number from 1 to " +
                               std::to_string(MAX_RENDER_CORES)),
               -1;
      args->cores = int(n);
    } else if (a[0] == '-' && a[1] != '\0') {
      int used = common ? cli::parseCommonOption(argc, argv, i) : 0;
      if (used < 0) return -1;
      if (used == 0) return cli::usageError(std::string("unknown option ") + a), -1;
      i += used - 1;
    } else if (args->input.empty()) {
      args->input = a;
    } else {
      return cli::usageError(std::string("only one input is taken, not also ") + a), -1;
    }
  }
  return 0;
}

// A temporary file, deleted when it goes out of scope.
struct TempFile {
  void* handle = nullptr;
  uint8_t* path = nullptr;
  TempFile() { handle = makeTempFile(&path, "vlm"); }
  ~TempFile() {
    if (!handle) return;
    ::unlink(reinterpret_cast<const char*>(path));
    freeBlock(handle);
  }
  const char* name() const { return reinterpret_cast<const char*>(path); }
};

// Converts the input for playback into `smf`. Prints the reason and returns false when nothing
// came of it.
bool prepareSong(const std::string& input, std::vector<uint8_t>* smf) {
  FormatCode code = detectFormat(input.c_str());
  if (code <= 0) {
    std::fprintf(stderr, "vlmconv: %s: not a supported song file\n", input.c_str());
    return false;
  }
  TempFile temp;
  if (!temp.handle) {
    std::fprintf(stderr, "vlmconv: cannot make a temporary file\n");
    return false;
  }
  if (!preparePlayback(input.c_str(), temp.name()) || !readFileBytes(temp.name(), smf)) {
    std::fprintf(stderr, "vlmconv: %s: nothing to play (unreadable or unsupported)\n",
                 input.c_str());
    return false;
  }
  return true;
}

// The voice samples of the input at the speed playback uses.
std::vector<RenderVoice> songVoices(const std::string& input) {
  std::vector<RenderVoice> voices;
  FormatCode code = detectFormat(input.c_str());
  MemBlock stream;
  if (code > 0 && readInput(input.c_str(), code, &stream)) {
    double scale = options.tempoRatio > 0 ? options.tempoRatio / 256.0 : 1.0;
    voicesFromStream(stream.data, uint32_t(stream.length), scale, &voices);
    blockFree(&stream);
  }
  return voices;
}

// ---- play ----------------------------------------------------------------------------------

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) {
  interrupted = 1;
}

// The terminal stands in for the main window: the completion notice is posted to the loop below.
struct TerminalWindow : PlayerWindow {
  std::atomic<uint32_t> notice{0};
  std::atomic<bool> stopped{false};
  void setPositionTimer(bool, int) override {}
  void playbackStopped() override { stopped = true; }
  void playNotify(uint32_t code) override { notice = code; }
};

std::vector<uint8_t> voiceWave(const RenderVoice& v) {
  static const std::vector<int16_t> none;
  const std::vector<int16_t>& samples = v.samples ? *v.samples : none;
  std::vector<uint8_t> image(WAVE_HEADER_SIZE + samples.size() * 2);
  writeWaveHeader(image.data(), v.sampleRate, 1, uint32_t(samples.size() * 2));
  uint8_t* p = image.data() + WAVE_HEADER_SIZE;
  for (int16_t s : samples) {
    p[0] = uint8_t(s & 0xFF);
    p[1] = uint8_t((s >> 8) & 0xFF);
    p += 2;
  }
  return image;
}

}  // namespace

int cmdRender(int argc, char** argv) {
  PlaybackArgs args;
  if (parseArgs(argc, argv, "-o --soundfont --rate --cores --synth", &args, true) < 0) return 2;
  if (args.help) return std::printf("%s%s", RENDER_USAGE, windowOptionsHelp()), 0;
  if (args.input.empty()) return cli::usageError("render needs an input file");
  if (args.output.empty()) return cli::usageError("render needs -o OUT.wav");

  std::vector<uint8_t> smf;
  if (!prepareSong(args.input, &smf)) return 1;
  RenderRequest request;
  request.smf = smf.data();
  request.smfSize = uint32_t(smf.size());
  request.sampleRate = args.rate;
  request.soundfont = soundfontPath();
  request.voices = songVoices(args.input);
  request.cpuCores = args.cores;
  // A SMAF file with its own voices: the handset synthesizer plays them.
  HandsetSong handset;
  if (prepareHandsetSong(args.input.c_str(), detectFormat(args.input.c_str()), &handset))
    request.handset = &handset;

  // The WAVE file is written as it is rendered and renamed into place when complete, so a
  // failed render leaves the old file (if any) and no partial output.
  auto started = std::chrono::steady_clock::now();
  RenderResult result;
  std::string error;
  if (!renderSmfToFile(request, args.output.c_str(), &result, &error)) {
    std::fprintf(stderr, "vlmconv: %s: %s\n",
                 result.outputFailed ? args.output.c_str() : args.input.c_str(), error.c_str());
    return 1;
  }
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "%s: %.2f s at %u Hz (song %.2f s, %zu voice samples), rendered in %.2f s"
      " on %d core%s%s\n",
      args.output.c_str(), double(result.frames) / args.rate, args.rate, result.songSeconds,
      request.voices.size(), took, result.cpuCores, result.cpuCores == 1 ? "" : "s",
      request.handset ? ", the file's own voices on the handset synthesizer" : "");
  return 0;
}

int cmdPlay(int argc, char** argv) {
  PlaybackArgs args;
  if (parseArgs(argc, argv, "--soundfont --synth", &args, true) < 0) return 2;
  if (args.help) return std::printf("%s%s", PLAY_USAGE, windowOptionsHelp()), 0;
  if (args.input.empty()) return cli::usageError("play needs an input file");

  setConversionUi(&cli::cliUi());
  TerminalWindow window;
  setPlayerWindow(&window);
  installPlayer();
  TempFile temp;
  FormatCode code = detectFormat(args.input.c_str());
  if (code <= 0 || !temp.handle || !preparePlayback(args.input.c_str(), temp.name())) {
    std::fprintf(stderr, "vlmconv: %s: nothing to play (unreadable or unsupported)\n",
                 args.input.c_str());
    setPlayerWindow(nullptr);
    return 1;
  }
  std::vector<RenderVoice> voices = songVoices(args.input);

  playFromStart();  // an open or play error is printed by the error box
  if (playerState.state != PLAY_PLAYING) {
    setPlayerWindow(nullptr);
    return 1;
  }
  interrupted = 0;
  struct sigaction action = {}, previous = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);

  const uint32_t totalMs = lengthMs();
  const auto started = std::chrono::steady_clock::now();
  size_t nextVoice = 0;
  std::stable_sort(voices.begin(), voices.end(), [](const RenderVoice& a, const RenderVoice& b) {
    return a.startSeconds < b.startSeconds;
  });
  const bool tty = isatty(STDOUT_FILENO);
  while (!interrupted && playerState.state == PLAY_PLAYING) {
    if (uint32_t n = window.notice.exchange(0)) {
      onPlayNotify(n);
      continue;
    }
    updatePosition();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The voice samples start beside the synthesizer as the song reaches them.
    while (nextVoice < voices.size() && voices[nextVoice].startSeconds <= elapsed) {
      std::vector<uint8_t> image = voiceWave(voices[nextVoice++]);
      playWaveImage(image.data(), uint32_t(image.size()));
    }
    double shown = std::min(elapsed, totalMs / 1000.0);
    if (tty) {
      std::printf("\r%u/%u  %02d:%04.1f / %02d:%04.1f ", playerState.position,
                  playerState.songLength, int(shown) / 60, shown - 60 * (int(shown) / 60),
                  int(totalMs / 1000) / 60, totalMs / 1000.0 - 60 * (int(totalMs / 1000) / 60));
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(POSITION_TIMER_MS));
  }
  stopPlayback();
  stopWaveSounds();
  releasePlayerHandsetSong();
  if (tty) std::printf("\n");
  sigaction(SIGINT, &previous, nullptr);
  setPlayerWindow(nullptr);
  closeAudioOutput();
  return 0;
}

int cmdExtractWaves(int argc, char** argv) {
  PlaybackArgs args;
  if (parseArgs(argc, argv, "-d", &args, false) < 0) return 2;
  if (args.help) return std::printf("%s", EXTRACT_USAGE), 0;
  if (args.input.empty()) return cli::usageError("extract-waves needs an input file");
  if (args.directory.empty()) return cli::usageError("extract-waves needs -d DIR");

  FormatCode code = detectFormat(args.input.c_str());
  MemBlock stream;
  if (code <= 0 || !readInput(args.input.c_str(), code, &stream)) {
    std::fprintf(stderr, "vlmconv: %s: cannot be read\n", args.input.c_str());
    return 1;
  }
  SongWaves waves;
  collectWaves(stream.data, uint32_t(stream.length), &waves);
  std::error_code ec;
  fs::create_directories(args.directory, ec);
  const std::string base = fs::path(args.input).stem().string();
  int written = 0, index = 0;
  for (const EmbeddedWave& w : waves.waves) {
    ++index;
    if (!w.sampleRate || !w.size) continue;
    // Each wave decoded with its own coding.
    const std::vector<uint8_t> image = embeddedWaveImage(w);
    char name[64];
    std::snprintf(name, sizeof name, "_%02d_%03u.wav", index, unsigned(w.number));
    const std::string path = (fs::path(args.directory) / (base + name)).string();
    if (!saveFile(path.c_str(), image.data(), image.size())) {
      std::fprintf(stderr, "vlmconv: %s: cannot be written\n", path.c_str());
      continue;
    }
    std::printf("%s\n", path.c_str());
    ++written;
  }
  blockFree(&stream);
  if (!written) {
    std::fprintf(stderr, "vlmconv: %s: no voice samples\n", args.input.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vlm
