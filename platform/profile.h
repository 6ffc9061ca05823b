// Private-profile (ini) files: sections and keys compared without regard to case, values kept
// as raw bytes (Shift-JIS stays Shift-JIS), a missing file reads as all defaults, every write
// rewrites the file atomically.
#pragma once

#include <cstddef>
#include <string>

namespace vlm {

// Copies the value (or `fallback`) into `out`, at most outSize - 1 bytes; returns the length.
size_t readProfileString(const char* section, const char* key, const char* fallback, char* out,
                         size_t outSize, const char* file);
std::string readProfileString(const char* section, const char* key, const char* fallback,
                              const char* file);
// Decimal value with an optional sign; `fallback` when the key is missing. Leading digits count,
// as the Windows call does ("12ab" gives 12, "ab" gives 0).
int readProfileInt(const char* section, const char* key, int fallback, const char* file);
// value null deletes the key. Returns false when the file could not be written.
bool writeProfileString(const char* section, const char* key, const char* value, const char* file);
bool writeProfileInt(const char* section, const char* key, int value, const char* file);

// Keeps the writes to one settings file in memory while it lives and writes the file once at
// the end (each write otherwise rewrites and syncs the whole file: saving a hundred keys one by
// one takes seconds). Reads of that file on this thread see the pending content. Batches on the
// same file nest; the outermost one writes.
class ProfileBatch {
 public:
  explicit ProfileBatch(const char* file);
  ~ProfileBatch();
  ProfileBatch(const ProfileBatch&) = delete;
  ProfileBatch& operator=(const ProfileBatch&) = delete;
  // Writes the pending content now; false when the file could not be written.
  bool flush();

 private:
  std::string path_;
};

// The settings file name: a bare name is placed in $XDG_CONFIG_HOME/vlmplay/ (default
// ~/.config/vlmplay/); a name with a '/' is used as it is.
std::string profilePath(const char* file);

}  // namespace vlm
