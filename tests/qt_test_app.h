// The one QApplication of a test program that builds widgets (offscreen: ctest sets
// QT_QPA_PLATFORM). Call qtApp() at the start of every test that makes a widget.
#pragma once

#include <QApplication>
#include <cstdlib>

inline QApplication& qtApp() {
  static int argc = 1;
  static char name[] = "vlmtest";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Never destroyed: at exit Qt has already freed its input devices, and a QApplication
  // destroyed after that would delete the ones that QTest's mouse events made a second time.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}
