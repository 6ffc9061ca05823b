#include "cli/cli_ui.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "util/files.h"

namespace vlm::cli {

namespace {

std::mutex outputMutex;
thread_local ConvertJob* job = nullptr;

constexpr size_t LINE_BUFFER_LIMIT = 65536;
bool buffering = false;  // both guarded by outputMutex
std::string pendingLines;

void writeOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// Splits a message box text into its lines (the texts end each line with CR LF).
void printLines(const char* prefix, const char* text) {
  std::string all(text);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find_first_of("\r\n", start);
    if (end == std::string::npos) end = all.size();
    if (end > start) printError(prefix + all.substr(start, end - start));
    start = all.find_first_not_of("\r\n", end);
    if (start == std::string::npos) break;
  }
}

}  // namespace

CliUi& cliUi() {
  static CliUi ui;
  return ui;
}

void setCurrentJob(ConvertJob* j) {
  job = j;
}
ConvertJob* currentJob() {
  return job;
}

void setErrorLineBuffering(bool on) {
  std::lock_guard<std::mutex> lock(outputMutex);
  if (!on && !pendingLines.empty()) {
    writeOut(pendingLines);
    pendingLines.clear();
  }
  buffering = on;
}

void flushErrorLines() {
  std::lock_guard<std::mutex> lock(outputMutex);
  if (!pendingLines.empty()) writeOut(pendingLines);
  pendingLines.clear();
}

void printError(const std::string& line) {
  std::lock_guard<std::mutex> lock(outputMutex);
  if (!buffering) {
    writeOut(line + "\n");
    return;
  }
  pendingLines += line;
  pendingLines += '\n';
  if (pendingLines.size() >= LINE_BUFFER_LIMIT) {
    writeOut(pendingLines);
    pendingLines.clear();
  }
}

bool CliUi::formatDialog(int, FormatCode) {
  if (job) runState.MailFlags = job->mailFlags;
  return true;
}

bool CliUi::mailDialog() {
  if (!job) return true;
  runState.mailTo = job->mailTo;
  runState.mailSubject = job->subject;
  if (!job->attachment.empty()) runState.mailAttachment = job->attachment;
  return true;
}

bool CliUi::saveDialog(std::string& path, FormatCode) {
  if (!job) return true;
  std::string target = path;
  if (!job->outputFile.empty()) {
    target = job->outputFile;
  } else if (!job->outputDir.empty()) {
    PathParts parts;
    splitPath(path.c_str(), &parts);
    std::string dir = job->outputDir;
    if (dir.back() != '/') dir += '/';
    target = dir + parts.name + parts.extension;
  }
  if (target.size() > MAX_PATH_BYTES) {
    job->skipped = true;
    job->skipReason = "the output path has " + std::to_string(target.size()) +
                      " bytes, more than the system allows (" + std::to_string(MAX_PATH_BYTES) +
                      "): nothing written";
    return false;
  }
  if (!job->force && pathExists(target.c_str())) {
    job->skipped = true;
    job->skipReason = target + " exists (use --force to overwrite)";
    return false;
  }
  path = target;
  job->deliveredPath = target;
  return true;
}

bool CliUi::warningBox(const char* text) {
  printLines(job ? (job->input + ": ").c_str() : "", text);
  return true;
}

void CliUi::noticeBox(const char* text) {
  printLines("", text);
}

void CliUi::errorBox(const char* text) {
  printError(std::string("ERROR: ") + text);
}

void CliUi::openWithShell(const char* path) {
  if (job) job->deliveredPath = path;
  printError(std::string("mail file: ") + path);
}

}  // namespace vlm::cli
