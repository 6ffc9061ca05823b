// The setup tool: shows its one dialog and ends when it closes. `--screenshot FILE` saves a
// picture of the dialog instead (for the documentation; works offscreen). `--lang CODE` chooses
// the language as the player's does (English texts for any language but Japanese).
#include <QApplication>
#include <QPixmap>
#include <cstring>
#include <string>

#include "platform/language.h"
#include "platform/profile.h"
#include "setup/associations.h"
#include "setup/setup_dialog.h"

int main(int argc, char** argv) {
  std::string language;
  if (argc >= 3 && std::strcmp(argv[1], "--lang") == 0) {
    language = argv[2];
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
  }
  QApplication app(argc, argv);
  vlm::installSetupTranslations(vlm::interfaceLanguage(
      language, vlm::readProfileString("section", "lang", "", vlm::SETTINGS_FILE)));
  vlm::SetupDialog dialog(QCoreApplication::applicationDirPath(), vlm::processRunner());
  if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) {
    dialog.show();
    QApplication::processEvents();
    return dialog.grab().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
  }
  dialog.exec();
  return 0;
}
