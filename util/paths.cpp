#include "util/paths.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vlm {

namespace {

constexpr const char* SHARE_FOLDER = "../share/vlmplay/";

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string programDirectory() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string path(buf, size_t(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> readOnlyFolders(const std::string& programDir) {
  if (programDir.empty()) return {};
  return {programDir, programDir + "../bin/", programDir + SHARE_FOLDER};
}

std::string findReadOnlyIn(const std::string& programDir, const std::string& name) {
  for (const std::string& folder : readOnlyFolders(programDir))
    if (exists(folder + name)) return folder + name;
  return std::string();
}

std::string findReadOnly(const std::string& name) {
  return findReadOnlyIn(programDirectory(), name);
}

std::string findDataDir() {
  const std::string data = findReadOnly("data");
  return data.empty() ? data : data + "/";
}

}  // namespace vlm
