// vlmconv convert: the convert command run unattended for every input, several at once with -j.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/window_options.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "convert/voice_files.h"
#include "core/vstream.h"
#include "platform/clipboard.h"
#include "util/paths.h"

namespace vlm::cli {

namespace {

const char* const CONVERT_USAGE =
    "usage: vlmconv convert INPUT... --to CODE [options]\n"
    "  --to CODE            output format: a number, a short name of 'vlmconv formats', or a\n"
    "                       family (mld, pmd, mmf, dxm: its most common variant)\n"
    "  -o OUTPUT            output file (one input only)\n"
    "  -d DIR               folder for the outputs, made when missing (default: beside each\n"
    "                       input)\n"
    "  --force              overwrite existing outputs\n"
    "  -j N                 convert N inputs at once (N worker threads)\n"
    "  --sync batch|each    make the outputs durable once at the end of the batch (default), or\n"
    "                       each file before the next one\n"
    "  --ini FILE           read settings from FILE (default: built-in defaults)\n"
    "  --set KEY=VALUE      set one settings key\n"
    "  --mail               write a mail file with the melody attached\n"
    "  --mail-text          write the melody-mail text to standard output\n"
    "  --mail-to ADDR, --subject TEXT, --attachment NAME   mail fields\n"
    "INPUT may be a file, a folder (searched recursively), an .m3u list, or clip.txt (standard\n"
    "input). Every output goes to a temporary file that is renamed into place.\n";

enum class Outcome { Converted, Skipped, Failed };

// What one worker counted; each on its own cache line, so workers share nothing while they run.
struct alignas(64) Tally {
  size_t converted = 0, skipped = 0, failed = 0;
};

// Makes the wave of a .qcp for the run (runState.convertedWavePath); false with the reason.
bool prepareQcp(const std::string& input, std::string* failure) {
  std::string wave;
  if (!convertQcpToWave(programDirectory(), input, &wave, failure)) return false;
  runState.convertedWavePath = wave;
  return true;
}

void dropConvertedWave() {
  if (runState.convertedWavePath.empty()) return;
  ::unlink(runState.convertedWavePath.c_str());
  runState.convertedWavePath.clear();
}

Outcome convertOne(ConvertJob& job, const InputFile& file, const OutputFormat& output,
                   const ConversionOptions& baseOptions) {
  if (file.error) {
    printError("vlmconv: " + job.input + ": " + std::strerror(file.error));
    return Outcome::Failed;
  }
  if (file.code <= 0) {
    printError("vlmconv: " + job.input + ": not a supported song file");
    return Outcome::Failed;
  }
  // Every conversion starts from the same options, whichever thread runs it.
  resetRun(baseOptions);
  clearFileFailure();
  // A .qcp voice file is read from the wave the outside voice converter makes of it.
  std::string failure;
  if (file.code == FORMAT_QCP && !prepareQcp(job.input, &failure)) {
    printError("vlmconv: " + job.input + ": " + failure + "; nothing converted");
    return Outcome::Failed;
  }
  setCurrentJob(&job);
  const int result = convertCommand(job.input.c_str(), output.code);
  setCurrentJob(nullptr);
  dropConvertedWave();
  if (job.skipped) {
    printError("vlmconv: " + job.input + ": skipped: " + job.skipReason);
    return Outcome::Skipped;
  }
  if (!result) {
    const FileFailure& failure = lastFileFailure();
    printError("vlmconv: " + (failure.op != FileOp::NONE ? fileFailureText(failure)
                                                         : job.input + ": nothing converted"));
    return Outcome::Failed;
  }
  printError(job.input + " -> " +
             (job.deliveredPath.empty() ? std::string("standard output") : job.deliveredPath));
  return Outcome::Converted;
}

}  // namespace

void drawProgress(size_t done, size_t total) {
  const int width = 30;
  const int filled = int(done * width / (total ? total : 1));
  std::string bar(size_t(filled), '#');
  bar.append(size_t(width - filled), ' ');
  std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), done, total);
  if (done == total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::string unknownFormatText(const std::string& name) {
  std::string text = "unknown output format: " + name;
  const std::vector<std::string> close = closeOutputNames(name.c_str());
  if (!close.empty()) {
    text += " (did you mean";
    for (size_t i = 0; i < close.size() && i < 6; ++i) text += (i ? ", " : " ") + close[i];
    text += "?)";
  }
  return text + "; 'vlmconv formats' lists them all";
}

int cmdConvert(int argc, char** argv) {
  std::vector<std::string> inputs;
  ConvertJob proto;
  std::string to;
  int jobs = 1;
  SaveSync sync = SaveSync::DEFERRED;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (!std::strcmp(a, "--help")) {
      std::printf("%s%s", CONVERT_USAGE, windowOptionsHelp());
      return 0;
    } else if (!std::strcmp(a, "--to")) {
      const char* v = value();
      if (!v) return usageError("--to needs a format code");
      to = v;
    } else if (!std::strcmp(a, "-o")) {
      const char* v = value();
      if (!v) return usageError("-o needs a file");
      proto.outputFile = v;
    } else if (!std::strcmp(a, "-d")) {
      const char* v = value();
      if (!v || !*v) return usageError("-d needs a folder");
      proto.outputDir = v;
    } else if (!std::strcmp(a, "--force")) {
      proto.force = true;
    } else if (!std::strcmp(a, "-j")) {
      const char* v = value();
      jobs = v ? std::atoi(v) : 0;
      if (jobs < 1 || jobs > 64) return usageError("-j needs a number from 1 to 64");
    } else if (!std::strcmp(a, "--sync")) {
      const char* v = value();
      if (v && !std::strcmp(v, "batch"))
        sync = SaveSync::DEFERRED;
      else if (v && !std::strcmp(v, "each"))
        sync = SaveSync::EACH_FILE;
      else
        return usageError("--sync is batch or each");
    } else if (!std::strcmp(a, "--mail")) {
      proto.mailFlags = MAIL_FILE;
    } else if (!std::strcmp(a, "--mail-text")) {
      proto.mailFlags = MAIL_TEXT_FORM;
    } else if (!std::strcmp(a, "--mail-to") || !std::strcmp(a, "--subject") ||
               !std::strcmp(a, "--attachment")) {
      const char* v = value();
      if (!v) return usageError(std::string(a) + " needs a value");
      std::string& field = a[2] == 'm'   ? proto.mailTo
                           : a[2] == 's' ? proto.subject
                                         : proto.attachment;
      field = v;
    } else if (a[0] == '-' && a[1] != '\0') {
      int used = parseCommonOption(argc, argv, i);
      if (used < 0) return 2;
      if (used == 0) return usageError(std::string("unknown option ") + a);
      i += used - 1;
    } else {
      inputs.push_back(a);
    }
  }
  if (to.empty()) return usageError("convert needs --to CODE (see vlmconv formats)");
  const OutputFormat* output = findOutputFormat(to.c_str());
  if (!output) return usageError(unknownFormatText(to));
  if (inputs.empty()) return usageError("convert needs at least one input");
  if (!proto.outputFile.empty() && !proto.outputDir.empty())
    return usageError("-o and -d exclude each other");

  setClipboardBackend(&stdioClipboard());
  setConversionUi(&cliUi());
  const std::vector<InputFile> files = expandInputFiles(inputs);
  if (!proto.outputFile.empty() && files.size() != 1)
    return usageError("-o takes exactly one input");
  if (files.empty()) {
    std::fprintf(stderr, "vlmconv: no supported files found\n");
    std::fprintf(stderr, "0 converted, 0 skipped, 0 failed\n");
    return 1;
  }
  if (!proto.outputDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(proto.outputDir, ec);
    if (ec || !isDirectory(proto.outputDir.c_str())) {
      std::fprintf(stderr, "vlmconv: cannot create %s: %s\n", proto.outputDir.c_str(),
                   (ec ? ec : std::make_error_code(std::errc::not_a_directory)).message().c_str());
      std::fprintf(stderr, "0 converted, 0 skipped, %zu failed\n", files.size());
      return 1;
    }
  }

  const ConversionOptions baseOptions = options;
  const size_t threads = std::min<size_t>(size_t(jobs), files.size());
  std::vector<Tally> tallies(threads);
  std::atomic<size_t> nextIndex{0}, done{0};
  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  // Nobody watches the lines as they come: write them in large pieces.
  setErrorLineBuffering(!isatty(STDERR_FILENO));
  setSaveSync(sync);
  auto worker = [&](Tally& tally) {
    ConvertJob job;
    for (size_t i = nextIndex++; i < files.size(); i = nextIndex++) {
      job = proto;
      job.input = files[i].path;
      switch (convertOne(job, files[i], *output, baseOptions)) {
        case Outcome::Converted:
          ++tally.converted;
          break;
        case Outcome::Skipped:
          ++tally.skipped;
          break;
        case Outcome::Failed:
          ++tally.failed;
          break;
      }
      const size_t finished = ++done;
      if (progress) drawProgress(finished, files.size());
    }
  };
  if (threads <= 1) {
    worker(tallies[0]);
  } else {
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker, std::ref(tallies[t]));
    for (std::thread& t : pool) t.join();
  }

  Tally total;
  for (const Tally& t : tallies) {
    total.converted += t.converted;
    total.skipped += t.skipped;
    total.failed += t.failed;
  }
  bool synced = true;
  if (sync == SaveSync::DEFERRED && total.converted > 0) {
    synced = syncSavedFiles() == 1;
    if (!synced) printError("vlmconv: " + fileFailureText(lastFileFailure()));
  }
  setSaveSync(SaveSync::EACH_FILE);
  setErrorLineBuffering(false);
  std::fprintf(stderr, "%zu converted, %zu skipped, %zu failed\n", total.converted, total.skipped,
               total.failed);
  return total.converted == files.size() && synced ? 0 : 1;
}

}  // namespace vlm::cli
