#include "app/app_paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vlm {

std::string programDir() {
  QString dir = QCoreApplication::applicationDirPath();
  std::string d = QFile::encodeName(dir).toStdString();
  if (d.empty() || d.back() != '/') d += '/';
  return d;
}

std::string findBesideProgram(const std::string& name) {
  // The build puts help/ and data/ into bin/; test programs live in a sibling folder.
  const std::string candidates[] = {programDir() + name, programDir() + "../bin/" + name,
                                    std::string(VLM_SOURCE_DIR) + "/" + name};
  for (const std::string& c : candidates)
    if (QFileInfo(QFile::decodeName(c.c_str())).isFile()) return c;
  return std::string();
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
