// The setup tool: shows its one dialog and ends when it closes.
#include <QApplication>

#include "setup/associations.h"
#include "setup/setup_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  vlm::SetupDialog dialog(QCoreApplication::applicationDirPath(), vlm::processRunner());
  dialog.exec();
  return 0;
}
