// Whole-file I/O, the clipboard pseudo file, temporary files, path and command-line helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/memblock.h"

namespace vlm {

inline constexpr int MAX_PATH_CHARS = 255;
inline constexpr int PATH_SLOT = 256;

// Reads a whole file into a new block of exactly its size. Null for a missing, unreadable or
// empty file.
void* loadFile(const char* path, uint8_t** pointer, int32_t* size);
int blockLoadFile(MemBlock* block, const char* path);
// Writes the whole image to a temporary file beside `path` and renames it into place, so a
// failed write never destroys the old file. 0 when it could not be written.
int saveFile(const char* path, const void* data, size_t size);
uint32_t readFilePrefix(const char* path, uint8_t* buffer, uint32_t n);
uint32_t fileSize(const char* path);
bool isDirectory(const char* path);
bool pathExists(const char* path);

// A 256-byte block receiving the name of a new empty file in $TMPDIR (or /tmp), made from the
// first three characters of the prefix. The caller deletes the file and frees the block.
void* makeTempFile(uint8_t** pointer, const char* prefix);

// Splits a POSIX path into drive (always empty), directory (with its trailing '/'), base name and
// extension (with its dot), replaces each part given non-null, and joins them into `out`
// (PATH_SLOT bytes).
void replacePathParts(const char* path, char* out, const char* drive, const char* directory,
                      const char* name, const char* extension);
struct PathParts {
  char drive[4];
  char directory[PATH_SLOT];
  char name[PATH_SLOT];
  char extension[PATH_SLOT];
};
void splitPath(const char* path, PathParts* parts);

int firstArgument(const char* commandLine, char* out, size_t outSize);

// The pseudo file name that stands for the clipboard text.
inline constexpr const char* CLIPBOARD_FILE = "clip.txt";
bool isClipboardPath(const char* path);  // "clip.txt" in any letter case

}  // namespace vlm
