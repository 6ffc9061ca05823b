// vlmplay: the player. A second start with files hands its command line to the player that
// runs (when `onerun` is on) and ends at once; otherwise the window opens on the files given.
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/graphic_button.h"
#include "app/handover.h"
#include "app/main_window.h"
#include "app/playlist.h"
#include "app/qt_ui.h"
#include "app/screenshots.h"
#include "platform/audio.h"
#include "platform/instance_channel.h"
#include "platform/profile.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::string screenshotDir;
  std::string language;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc) {
      language = argv[++i];
      continue;
    }
    if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc) {
      screenshotDir = argv[++i];
      continue;
    }
    args.push_back(argv[i]);
  }

  // The handover needs no window: with another player running, the files go there.
  const bool onerun = vlm::readProfileInt("section", "onerun", 1, vlm::SETTINGS_FILE) == 1;
  if (!args.empty() && onerun && screenshotDir.empty()) {
    const std::string text = vlm::handoverCommandLine(args);
    for (int pid : vlm::runningInstances())
      if (vlm::sendCommandLineHandover(pid, text)) return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vlmplay"));
  vlm::initAppResources();
  const std::string chosen = vlm::interfaceLanguage(
      language, vlm::readProfileString("section", "lang", "", vlm::SETTINGS_FILE));
  vlm::installQtTranslations(chosen);
  vlm::installAppTranslations(chosen);
  // Without a sound device the player can still run in real time into a silent output (for
  // pictures, and for trying the window on a machine without sound).
  const char* silent = std::getenv("VLMPLAY_SILENT_AUDIO");
  if (!screenshotDir.empty() || (silent && std::strcmp(silent, "1") == 0))
    vlm::allowSilentAudioOutput(true);

  int status = 0;
  {
    vlm::MainWindow window;
    vlm::installKeyForwarding(&window);
    if (screenshotDir.empty()) window.listenForInstances();
    window.show();
    window.startWith(vlm::joinCommandLine(args));
    if (!screenshotDir.empty()) {
      QTimer::singleShot(200, &window, [&] {
        vlm::writeScreenshots(&window, screenshotDir);
        window.close();
      });
    }
    status = app.exec();
  }
  vlm::closeAudioOutput();
  return status;
}
