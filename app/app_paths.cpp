#include "app/app_paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "util/paths.h"

namespace vlm {

std::string programDir() {
  QString dir = QCoreApplication::applicationDirPath();
  std::string d = QFile::encodeName(dir).toStdString();
  if (d.empty() || d.back() != '/') d += '/';
  return d;
}

std::string findBesideProgram(const std::string& name) {
  return findReadOnlyIn(programDir(), name);
}

std::string findProgram(const std::string& name) {
  const std::string beside[] = {programDir() + name, programDir() + "../bin/" + name};
  for (const std::string& c : beside) {
    QFileInfo info(QFile::decodeName(c.c_str()));
    if (info.isFile() && info.isExecutable()) return c;
  }
  QString found = QStandardPaths::findExecutable(QString::fromStdString(name));
  return found.isEmpty() ? std::string() : QFile::encodeName(found).toStdString();
}

}  // namespace vlm
