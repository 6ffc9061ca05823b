// Placeholder until the dialogs exist: nothing opens, conversions go on as on the command line.
#include "app/dialogs/dialogs.h"

namespace vlm::dialogs {

namespace {
std::function<void(int, int)> commandSink;
}

void setCommandSink(std::function<void(int id, int param)> sink) {
  commandSink = std::move(sink);
}
int openDialog(int, QWidget*) {
  return -1;
}
bool anyDialogOpen() {
  return false;
}
void closeAllDialogs() {}
int runFileSettingsDialog(int, FormatCode, QWidget*, bool) {
  return DLG_OK;
}
int runMailDialog(QWidget*) {
  return DLG_OK;
}

int writeDialogScreenshots(const char*, QWidget*) {
  return 0;
}

}  // namespace vlm::dialogs
