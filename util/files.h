// Whole-file I/O, the clipboard pseudo file, temporary files, path and command-line helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/memblock.h"

namespace vlm {

// The longest path the system opens (PATH_MAX with its terminating zero). Longer ones are
// refused with a message before anything is written; shorter ones are never cut.
inline constexpr size_t MAX_PATH_BYTES = 4095;

// Reads a whole file into a new block of exactly its size. Null for a missing, unreadable or
// empty file.
void* loadFile(const char* path, uint8_t** pointer, int32_t* size);
int blockLoadFile(MemBlock* block, const char* path);
// Writes the whole image to a temporary file beside `path` and renames it into place, so a
// failed write never destroys the old file. 0 when it could not be written.
int saveFile(const char* path, const void* data, size_t size);

// When saveFile makes what it wrote durable. EACH_FILE (the default): the file is synced before
// the rename and its folder after it, so a saved file survives a crash as soon as saveFile
// returns. DEFERRED (a batch): files are written and renamed into place without waiting for the
// disk; their folders are remembered and syncSavedFiles makes all of it durable at once.
enum class SaveSync { EACH_FILE, DEFERRED };
void setSaveSync(SaveSync mode);  // for the whole process
SaveSync saveSync();
// Syncs the file systems and folders of every file saved with DEFERRED since the last call:
// one sync per file system, then one per folder. 1 on success; 0 when a sync failed, with the
// failure recorded (lastFileFailure: the folder and its errno).
int syncSavedFiles();

// The last whole-file operation of this thread that failed: loading or saving, the path it
// failed on and the errno (0 for an empty file). loadFile and saveFile record it; callers that
// report failures name the cause with fileFailureText.
enum class FileOp { NONE, READ, WRITE, SYNC };
struct FileFailure {
  FileOp op = FileOp::NONE;
  std::string path;
  int error = 0;
};
const FileFailure& lastFileFailure();
void clearFileFailure();
// "IN: No such file or directory", "cannot write OUT: Permission denied", "IN: empty file".
std::string fileFailureText(const FileFailure& failure);
uint32_t readFilePrefix(const char* path, uint8_t* buffer, uint32_t n);
uint32_t fileSize(const char* path);
bool isDirectory(const char* path);
bool pathExists(const char* path);

// A block receiving the name of a new empty file in $TMPDIR (or /tmp), made from the first three
// characters of the prefix, as a zero-terminated text. The caller deletes the file and frees the
// block.
void* makeTempFile(uint8_t** pointer, const char* prefix);

// Splits a POSIX path into drive (always empty), directory (with its trailing '/'), base name and
// extension (with its dot), replaces each part given non-null, and joins them. Paths have no
// length limit here: the system says which it refuses.
std::string replacePathParts(const char* path, const char* drive, const char* directory,
                             const char* name, const char* extension);
struct PathParts {
  std::string drive;
  std::string directory;
  std::string name;
  std::string extension;
};
void splitPath(const char* path, PathParts* parts);

int firstArgument(const char* commandLine, char* out, size_t outSize);

// The pseudo file name that stands for the clipboard text.
inline constexpr const char* CLIPBOARD_FILE = "clip.txt";
bool isClipboardPath(const char* path);  // "clip.txt" in any letter case

}  // namespace vlm
