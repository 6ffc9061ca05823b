// The setup tool: shows its one dialog and ends when it closes. `--screenshot FILE` saves a
// picture of the dialog instead (for the documentation; works offscreen).
#include <QApplication>
#include <QPixmap>
#include <cstring>

#include "setup/associations.h"
#include "setup/setup_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  vlm::SetupDialog dialog(QCoreApplication::applicationDirPath(), vlm::processRunner());
  if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) {
    dialog.show();
    QApplication::processEvents();
    return dialog.grab().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
  }
  dialog.exec();
  return 0;
}
