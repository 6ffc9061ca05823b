// Fresh XDG folders per test (config, data, runtime, temp), a program folder that may hold a
// stand-in vlmplay, and a runner that records the helper programs instead of starting them.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <vector>

#include "qt_test_app.h"
#include "setup/associations.h"

struct RecordedCall {
  QString program;
  QStringList args;
};

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(root_->isValid());
    for (const char* d : {"config", "data", "runtime", "tmp", "prog"})
      ASSERT_TRUE(QDir(root_->path()).mkpath(d));
    ::chmod(QFile::encodeName(path("runtime")).constData(), 0700);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")).constData(), 1);
    setenv("XDG_DATA_HOME", QFile::encodeName(path("data")).constData(), 1);
    setenv("XDG_RUNTIME_DIR", QFile::encodeName(path("runtime")).constData(), 1);
    setenv("TMPDIR", QFile::encodeName(path("tmp")).constData(), 1);
    // The helpers then keep to the generic freedesktop files instead of a desktop's own tools.
    for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                          "GNOME_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
      unsetenv(v);
    qtApp();
  }

  QString path(const QString& relative) const { return root_->path() + "/" + relative; }
  QString programDir() const { return path("prog"); }
  QString dataHome() const { return path("data"); }
  QString iniPath() const { return path("config") + "/vlmplay/vlmplay.ini"; }

  void putPlayer() { writeFile(programDir() + "/vlmplay", "#!/bin/sh\n"); }
  static void writeFile(const QString& file, const QByteArray& bytes) {
    QDir().mkpath(file.section('/', 0, -2));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static QByteArray readFile(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // Records every call; `fail` decides the result per program.
  vlm::ProgramRunner recorder() {
    return [this](const QString& program, const QStringList& args) {
      calls_.push_back({program, args});
      vlm::ProgramResult r;
      r.started = !missing_.contains(program);
      r.exitCode = failing_.contains(program) ? 2 : 0;
      if (!r.started) r.errorText = "No such file or directory";
      if (failing_.contains(program)) r.errorText = "bad package";
      return r;
    };
  }
  std::vector<RecordedCall> callsOf(const QString& program) const {
    std::vector<RecordedCall> out;
    for (const RecordedCall& c : calls_)
      if (c.program == program) out.push_back(c);
    return out;
  }

  std::unique_ptr<QTemporaryDir> root_;
  std::vector<RecordedCall> calls_;
  QStringList missing_;
  QStringList failing_;
};

inline vlm::AssociationSet onlyRows(std::initializer_list<int> ids) {
  vlm::AssociationSet rows{};
  for (int id : ids) {
    const int at = vlm::associationIndex(id);
    EXPECT_GE(at, 0) << id;
    if (at >= 0) rows[size_t(at)] = true;
  }
  return rows;
}
