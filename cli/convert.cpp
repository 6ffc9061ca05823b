// vlmconv convert: the convert command run unattended for every input, several at once with -j.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/window_options.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/vstream.h"
#include "platform/clipboard.h"

namespace vlm::cli {

namespace {

const char* const CONVERT_USAGE =
    "usage: vlmconv convert INPUT... --to CODE [options]\n"
    "  --to CODE            output format: a number or a short name of 'vlmconv formats'\n"
    "  -o OUTPUT            output file (one input only)\n"
    "  -d DIR               folder for the outputs (default: beside each input)\n"
    "  --force              overwrite existing outputs\n"
    "  -j N                 convert N inputs at once\n"
    "  --ini FILE           read settings from FILE (default: built-in defaults)\n"
    "  --set KEY=VALUE      set one settings key\n"
    "  --mail               write a mail file with the melody attached\n"
    "  --mail-text          write the melody-mail text to standard output\n"
    "  --mail-to ADDR, --subject TEXT, --attachment NAME   mail fields\n"
    "INPUT may be a file, a folder (searched recursively), an .m3u list, or clip.txt (standard\n"
    "input).\n";

enum class Outcome { Converted, Skipped, Failed };

struct BatchResult {
  Outcome outcome = Outcome::Failed;
};

// Stages this build has for an input and output code; the reason when one is missing.
std::string missingStage(FormatCode inputCode, const OutputFormat& output) {
  const bool copyOnly = output.code == OUTPUT_COPY || output.code == OUTPUT_MAIL;
  if (!copyOnly) {
    const InputFormat* in = findInputFormat(inputCode);
    if (!in || (!in->reader && inputCode != FORMAT_VLM))
      return std::string("reading ") + (in ? in->name : "this format") + " is not supported yet";
    if (!output.writer) return std::string("writing ") + output.shortName + " is not supported yet";
  }
  return "";
}

Outcome convertOne(ConvertJob& job, const OutputFormat& output,
                   const ConversionOptions& baseOptions) {
  const FormatCode inputCode = detectFormat(job.input.c_str());
  if (inputCode <= 0) {
    printError("vlmconv: " + job.input + ": not a supported song file");
    return Outcome::Failed;
  }
  std::string missing = missingStage(inputCode, output);
  if (!missing.empty()) {
    printError("vlmconv: " + job.input + ": " + missing);
    return Outcome::Failed;
  }
  // Every conversion starts from the same options, whichever thread runs it.
  options = baseOptions;
  runState = RunState();
  warnings = ConversionWarnings();
  setCurrentJob(&job);
  const int result = convertCommand(job.input.c_str(), output.code);
  setCurrentJob(nullptr);
  if (job.skipped) {
    printError("vlmconv: " + job.input + ": skipped: " + job.skipReason);
    return Outcome::Skipped;
  }
  if (!result) {
    printError("vlmconv: " + job.input +
               ": nothing converted (unreadable input, or the output could not be written)");
    return Outcome::Failed;
  }
  printError(job.input + " -> " +
             (job.deliveredPath.empty() ? std::string("standard output") : job.deliveredPath));
  return Outcome::Converted;
}

void drawProgress(size_t done, size_t total) {
  const int width = 30;
  const int filled = int(done * width / (total ? total : 1));
  std::string bar(size_t(filled), '#');
  bar.append(size_t(width - filled), ' ');
  std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), done, total);
  if (done == total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

int cmdConvert(int argc, char** argv) {
  std::vector<std::string> inputs;
  ConvertJob proto;
  std::string to;
  int jobs = 1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    if (!std::strcmp(a, "--help")) {
      std::printf("%s%s", CONVERT_USAGE, windowOptionsHelp());
      return 0;
    } else if (!std::strcmp(a, "--to")) {
      const char* v = value("--to");
      if (!v) return usageError("--to needs a format code");
      to = v;
    } else if (!std::strcmp(a, "-o")) {
      const char* v = value("-o");
      if (!v) return usageError("-o needs a file");
      proto.outputFile = v;
    } else if (!std::strcmp(a, "-d")) {
      const char* v = value("-d");
      if (!v) return usageError("-d needs a folder");
      proto.outputDir = v;
    } else if (!std::strcmp(a, "--force")) {
      proto.force = true;
    } else if (!std::strcmp(a, "-j")) {
      const char* v = value("-j");
      jobs = v ? std::atoi(v) : 0;
      if (jobs < 1 || jobs > 64) return usageError("-j needs a number from 1 to 64");
    } else if (!std::strcmp(a, "--mail")) {
      proto.mailFlags = MAIL_FILE;
    } else if (!std::strcmp(a, "--mail-text")) {
      proto.mailFlags = MAIL_TEXT_FORM;
    } else if (!std::strcmp(a, "--mail-to") || !std::strcmp(a, "--subject") ||
               !std::strcmp(a, "--attachment")) {
      const char* v = value(a);
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
  if (!output) return usageError("unknown output format: " + to);
  if (inputs.empty()) return usageError("convert needs at least one input");
  if (!proto.outputFile.empty() && !proto.outputDir.empty())
    return usageError("-o and -d exclude each other");

  setClipboardBackend(&stdioClipboard());
  setConversionUi(&cliUi());
  std::vector<std::string> files = expandInputs(inputs);
  if (!proto.outputFile.empty() && files.size() != 1)
    return usageError("-o takes exactly one input");
  if (files.empty()) {
    std::fprintf(stderr, "vlmconv: no supported files found\n");
    std::fprintf(stderr, "0 converted, 0 skipped, 0 failed\n");
    return 1;
  }

  const ConversionOptions baseOptions = options;
  std::vector<BatchResult> results(files.size());
  std::atomic<size_t> nextIndex{0}, done{0};
  const bool progress = files.size() > 1 && isatty(STDERR_FILENO);
  auto worker = [&]() {
    for (size_t i = nextIndex++; i < files.size(); i = nextIndex++) {
      ConvertJob job = proto;
      job.input = files[i];
      results[i].outcome = convertOne(job, *output, baseOptions);
      size_t finished = ++done;
      if (progress) drawProgress(finished, files.size());
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

  size_t converted = 0, skipped = 0, failed = 0;
  for (const BatchResult& r : results) {
    if (r.outcome == Outcome::Converted)
      ++converted;
    else if (r.outcome == Outcome::Skipped)
      ++skipped;
    else
      ++failed;
  }
  std::fprintf(stderr, "%zu converted, %zu skipped, %zu failed\n", converted, skipped, failed);
  return converted == files.size() ? 0 : 1;
}

}  // namespace vlm::cli
