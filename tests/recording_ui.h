// A conversion UI for tests: every question is answered yes and every error text is kept, so a
// test can check which errors were shown and how often.
#pragma once

#include <string>
#include <vector>

#include "convert/conversion_run.h"

namespace vlm::test {

struct RecordingUi : ConversionUi {
  std::vector<std::string> errors;
  bool formatDialog(int, FormatCode) override { return true; }
  bool mailDialog() override { return true; }
  bool saveDialog(std::string&, FormatCode) override { return true; }
  bool warningBox(const char*) override { return true; }
  void noticeBox(const char*) override {}
  void errorBox(const char* text) override { errors.push_back(text); }
  void openWithShell(const char*) override {}
  void setTitle(const char*) override {}
};

}  // namespace vlm::test
