#include "util/paths.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vlm {

namespace {

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

std::string findDataDir() {
  const std::string program = programDirectory();
  if (!program.empty()) {
    if (isFolder(program + "data")) return program + "data/";
    if (isFolder(program + "../share/vlmplay/data")) return program + "../share/vlmplay/data/";
  }
#ifdef VLM_SOURCE_DIR
  const std::string source = std::string(VLM_SOURCE_DIR) + "/data";
  if (isFolder(source)) return source + "/";
#endif
  return std::string();
}

}  // namespace vlm
