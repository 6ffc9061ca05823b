// The sound files of a song before it is read: the .qcp voice conversion through the outside
// converter, the temporary copy of a .wav, their measure on the player's wave device, and the
// wave that a "save as WAVE" command copies.
#include "convert/voice_files.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/run_state.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

namespace {

// The converter gets about five seconds to make its wave, then two more to finish and close it.
constexpr int PVCONV_POLLS = 501;
constexpr int PVCONV_POLL_MS = 10;
constexpr int PVCONV_FINISH_MS = 2000;
// The wave device settles this long after it is opened before it is asked the sound's length.
constexpr int WAVE_SETTLE_MS = 100;
constexpr const char* TEMP_PREFIX = "dum";

void sleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool isExecutableFile(const std::string& path) {
  return !path.empty() && !isDirectory(path.c_str()) && ::access(path.c_str(), X_OK) == 0;
}

// Waits up to `ms` for the child to end; true when it has.
bool waitForEnd(pid_t child, int ms) {
  for (int waited = 0;; waited += PVCONV_POLL_MS) {
    if (::waitpid(child, nullptr, WNOHANG) == child) return true;
    if (waited >= ms) return false;
    sleepMs(PVCONV_POLL_MS);
  }
}

// Starts the converter in its own folder with an argument list (no shell); -1 when it cannot.
pid_t startConverter(const std::string& program, const std::string& folder,
                     const std::string& input, const std::string& output) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  if (!folder.empty() && ::chdir(folder.c_str()) != 0) _exit(127);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(input.c_str()),
                             const_cast<char*>(output.c_str()), nullptr};
  ::execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

std::string newTempFile(const char* suffix) {
  uint8_t* name = nullptr;
  void* block = makeTempFile(&name, TEMP_PREFIX);
  if (!block) return std::string();
  std::string path = reinterpret_cast<const char*>(name);
  freeBlock(block);
  if (suffix && *suffix) {
    // The extension tells players and converters what the file is.
    std::string named = path + suffix;
    if (::rename(path.c_str(), named.c_str()) == 0) path = named;
  }
  return path;
}

bool copyFileTo(const std::string& from, const std::string& to) {
  uint8_t* data = nullptr;
  int32_t size = 0;
  void* block = loadFile(from.c_str(), &data, &size);
  if (!block) return false;
  const int ok = saveFile(to.c_str(), data, size_t(size));
  freeBlock(block);
  return ok != 0;
}

std::string findVoiceConverter(const std::string& programDir) {
  for (const std::string& beside : {programDir + VOICE_CONVERTER,
                                    programDir + "../bin/" + VOICE_CONVERTER})
    if (!programDir.empty() && isExecutableFile(beside)) return beside;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + VOICE_CONVERTER;
    if (isExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

bool convertQcpToWave(const std::string& programDir, const std::string& qcp, std::string* wave,
                      std::string* failure) {
  const std::string program = findVoiceConverter(programDir);
  if (program.empty()) {
    *failure = std::string(".qcp voice files need the voice converter ") + VOICE_CONVERTER +
               " (on PATH or beside the program), which was not found";
    return false;
  }
  const std::string copy = newTempFile(".qcp");
  const std::string made = newTempFile(".wav");
  bool ok = false;
  if (!copy.empty() && !made.empty() && copyFileTo(qcp, copy)) {
    const pid_t child = startConverter(program, programDir, copy, made);
    if (child > 0) {
      bool ended = false;
      for (int i = 0; i < PVCONV_POLLS && !ended; ++i) {
        if (fileSize(made.c_str()) > 0) break;
        ended = waitForEnd(child, PVCONV_POLL_MS);
      }
      // The converter is done when it has ended; give it a little time to close the file.
      if (!ended && !waitForEnd(child, PVCONV_FINISH_MS)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
      }
      ok = fileSize(made.c_str()) > 0;
    }
  }
  if (!copy.empty()) ::unlink(copy.c_str());
  if (ok) {
    *wave = made;
  } else {
    if (!made.empty()) ::unlink(made.c_str());
    *failure = program + " made no wave of it";
  }
  return ok;
}

void prepareWave(FormatCode code, const std::string& path, const std::string& programDir,
                 std::string& waveTemp, const WaveDevice* device) {
  std::string wave;
  if (code == FORMAT_QCP) {
    std::string failure;
    if (!convertQcpToWave(programDir, path, &wave, &failure)) return;
  } else {
    if (!waveTemp.empty()) ::unlink(waveTemp.c_str());
    waveTemp = newTempFile(".wav");
    if (waveTemp.empty() || !copyFileTo(path, waveTemp)) return;
    wave = waveTemp;
  }
  if (!device) {
    if (code == FORMAT_QCP) runState.convertedWavePath = wave;
    return;
  }
  device->open(wave.c_str());
  sleepMs(WAVE_SETTLE_MS);
  const uint32_t ms = device->lengthMs();
  options.waveLengthTenths = int(ms / 100 + 1);
  if (code == FORMAT_QCP) {
    if (ms != 0)
      runState.convertedWavePath = wave;
    else
      ::unlink(wave.c_str());
  }
}

std::string waveToSave(FormatCode code, const std::string& waveTemp, const std::string& voiceWave) {
  if (code == FORMAT_WAV) return waveTemp;
  if (code == FORMAT_QCP) return runState.convertedWavePath;
  return voiceWave;
}

}  // namespace vlm
