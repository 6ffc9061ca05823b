// Shared set-up of the dialog tests: private XDG and temporary folders, a song loaded from the
// example MIDI file, and access to the controls of an open dialog by id.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QInputDevice>
#include <QLineEdit>
#include <QTemporaryDir>
#include <string>

#include "app/dialogs/dialog_procs.h"
#include "convert/conversion_run.h"
#include "core/vstream.h"
#include "qt_test_app.h"

namespace vlm::dialogs::test {

// QTest's input events leave devices owned by the application, which is destroyed at exit
// after the list they would leave; remove them while it still exists.
class InputDevicesCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!QCoreApplication::instance()) return;
    const QList<const QInputDevice*> devices = QInputDevice::devices();
    for (const QInputDevice* d : devices) delete const_cast<QInputDevice*>(d);
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    ASSERT_TRUE(tmp_.isValid());
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
      QDir(tmp_.path()).mkpath(QString::fromLatin1(var));
      qputenv(var, (tmp_.path() + "/" + var).toLocal8Bit());
    }
    resetRun();
    dialogValues = DialogValues();
    clearSongInfo();
    song.ProtectFlags = 0;
    resetSongStats();
  }
  void TearDown() override {
    closeAllDialogs();
    setConversionUi(nullptr);
  }

  std::string path(const char* name) const { return (tmp_.path() + "/" + name).toStdString(); }

  // The example song through the playback run, so that SongStats and SongInfo hold its values.
  void loadDemo() {
    const std::string demo = (QDir::currentPath() + "/examples/demo.mid").toStdString();
    ASSERT_EQ(preparePlayback(demo.c_str(), path("play.mid").c_str()), 1);
    options.histfile[0] = demo;
  }

  static void type(TableDialog* d, int id, const QString& text) {
    auto* e = qobject_cast<QLineEdit*>(d->control(id));
    ASSERT_NE(e, nullptr) << id;
    e->setText(text);
    emit e->editingFinished();
  }

  QTemporaryDir tmp_;
};

}  // namespace vlm::dialogs::test
