// The command line's answers to the conversion run's dialogs: defaults, the output path it was
// given, warnings on standard error. Safe to use from several conversion threads.
#pragma once

#include <string>

#include "convert/conversion_run.h"

namespace vlm::cli {

// What the command line asks of one conversion; one per input, kept per thread.
struct ConvertJob {
  std::string input;
  std::string outputFile;  // -o: exact output path
  std::string outputDir;   // -d: folder for the output
  bool force = false;
  uint32_t mailFlags = 0;  // set by --mail / --mail-text, as the format dialog's buttons do
  std::string mailTo, subject, attachment;
  // Results.
  bool skipped = false;
  std::string skipReason;
  std::string deliveredPath;
};

class CliUi : public ConversionUi {
 public:
  bool formatDialog(int dialogId, FormatCode output) override;
  bool mailDialog() override;
  bool saveDialog(std::string& path, FormatCode output) override;
  bool warningBox(const char* text) override;
  void noticeBox(const char* text) override;
  void errorBox(const char* text) override;
  void openWithShell(const char* path) override;
  void setTitle(const char*) override {}
};

CliUi& cliUi();
// The job the current thread converts.
void setCurrentJob(ConvertJob* job);
ConvertJob* currentJob();

// One line on standard error, whole, even when several threads print.
void printError(const std::string& line);
// A batch that is not watched on a terminal collects its lines and writes them in large pieces
// (one write per 64 KiB instead of one per file); flushErrorLines writes what is left.
void setErrorLineBuffering(bool on);
void flushErrorLines();

}  // namespace vlm::cli
