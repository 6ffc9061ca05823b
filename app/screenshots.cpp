#include "app/screenshots.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QThread>

#include "app/dialogs/dialogs.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "convert/options.h"
#include "playback/player.h"

namespace vlm {

namespace {

void settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

bool save(QWidget* w, const QString& dir, const QString& name, int* written) {
  const bool ok = w->grab().save(dir + QLatin1Char('/') + name, "PNG");
  if (ok) ++*written;
  return ok;
}

}  // namespace

int writeScreenshots(MainWindow* window, const std::string& dirName) {
  const QString dir = QString::fromStdString(dirName);
  QDir().mkpath(dir);
  int written = 0;
  settle(300);
  save(window, dir, QStringLiteral("main-window.png"), &written);

  // Playing for a moment gives the monitor and the karaoke display something to show.
  window->onCommand(151);
  settle(1500);
  if (!options.chmonita) window->onCommand(258);
  settle(300);
  save(window, dir, QStringLiteral("channel-monitor.png"), &written);
  if (!options.karaoke) window->onCommand(257);
  settle(300);
  save(window, dir, QStringLiteral("karaoke.png"), &written);
  if (!options.playlist) window->onCommand(256);
  settle(300);
  save(window, dir, QStringLiteral("playlist-monitor.png"), &written);
  window->onCommand(152);
  // Back to the plain window for the menus.
  window->onCommand(258);
  window->onCommand(257);
  window->onCommand(256);
  settle(300);

  int n = 0;
  for (QMenu* menu : window->barMenus()) {
    ++n;
    menu->popup(window->mapToGlobal(QPoint(10 + 60 * (n - 1), 20)));
    settle(200);
    save(menu, dir, QStringLiteral("menu-%1.png").arg(n), &written);
    // The submenus of this menu.
    int s = 0;
    for (QAction* a : menu->actions()) {
      if (!a->menu()) continue;
      ++s;
      QMenu* sub = a->menu();
      sub->popup(menu->mapToGlobal(menu->actionGeometry(a).topRight()));
      settle(150);
      save(sub, dir, QStringLiteral("menu-%1-%2.png").arg(n).arg(s), &written);
      sub->hide();
    }
    menu->hide();
  }
  written += dialogs::writeDialogScreenshots(dirName.c_str(), window);
  return written;
}

}  // namespace vlm
