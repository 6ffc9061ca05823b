// Classifies a path by its extension and the input rows of the format table, looking at the first
// four bytes only where a row claims an extension by them. Never reads more than five bytes and
// never fails loudly.
#include <strings.h>
#include <sys/stat.h>

#include <cstring>

#include "convert/format_table.h"
#include "platform/clipboard.h"
#include "util/files.h"

namespace vlm {

namespace {

constexpr uint32_t HEADER_BYTES = 5;
constexpr uint8_t REFUSED_MLD_MAGIC[4] = {0xEF, 0x41, 0x8B, 0xA4};

struct Header {
  uint8_t bytes[HEADER_BYTES] = {};
  uint32_t count = 0;

  // Bytes that were not read match nothing.
  bool startsWith(const void* magic) const {
    return magic && count >= 4 && std::memcmp(bytes, magic, 4) == 0;
  }
};

// Whether a row's extension list holds `ext`; `*needsMagic` says whether it is written with '?'.
bool listsExtension(const char* list, const char* ext, bool* needsMagic) {
  const size_t length = std::strlen(ext);
  if (length == 0) return false;
  for (const char* at = list; *at;) {
    const char* end = at + std::strcspn(at, " ");
    const bool question = end > at && end[-1] == '?';
    const size_t entry = size_t(end - at) - (question ? 1 : 0);
    if (entry == length && strncasecmp(at, ext, length) == 0) {
      *needsMagic = question;
      return true;
    }
    at = *end ? end + 1 : end;
  }
  return false;
}

// Files that carry a format's extension but are not that format.
bool refused(const char* ext, const Header& header) {
  return strcasecmp(ext, ".mld") == 0 && header.startsWith(REFUSED_MLD_MAGIC);
}

// The input rows decide: first a row that claims the extension by its magic bytes, then one that
// claims it whatever the file holds.
FormatCode classifyByExtension(const char* ext, const Header& header) {
  if (strcasecmp(ext, ".m3u") == 0) return FORMAT_PLAYLIST;
  if (refused(ext, header)) return FORMAT_UNSUPPORTED;
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  FormatCode plain = FORMAT_UNSUPPORTED;
  for (int i = 0; i < count; ++i) {
    bool needsMagic = false;
    if (!listsExtension(formats[i].extensions, ext, &needsMagic)) continue;
    if (!needsMagic) {
      if (plain == FORMAT_UNSUPPORTED) plain = formats[i].code;
    } else if (header.startsWith(formats[i].magic)) {
      return formats[i].code;
    }
  }
  return plain;
}

// Only extensions that a row claims by magic bytes (and the refused ones) look at the first
// bytes; for every other one the header is not read, which spares a batch of thousands of files
// an open and a read each.
bool extensionNeedsHeader(const char* ext) {
  if (strcasecmp(ext, ".mld") == 0) return true;
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  for (int i = 0; i < count; ++i) {
    bool needsMagic = false;
    if (listsExtension(formats[i].extensions, ext, &needsMagic) && needsMagic) return true;
  }
  return false;
}

FormatCode classifyFile(const char* path) {
  PathParts parts;
  splitPath(path, &parts);
  Header header;
  if (extensionNeedsHeader(parts.extension.c_str()))
    header.count = readFilePrefix(path, header.bytes, HEADER_BYTES);
  return classifyByExtension(parts.extension.c_str(), header);
}

}  // namespace

FormatCode detectFormat(const char* path) {
  if (!path) return FORMAT_UNSUPPORTED;
  if (isClipboardPath(path)) {
    PathParts parts;
    splitPath(path, &parts);
    Header header;
    header.count = readClipboardPrefix(header.bytes, HEADER_BYTES);
    return classifyByExtension(parts.extension.c_str(), header);
  }
  // A path that does not exist is treated like a directory: the caller expands it to nothing.
  struct stat st;
  if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return FORMAT_DIRECTORY;
  return classifyFile(path);
}

FormatCode detectFileFormat(const char* path) {
  if (!path) return FORMAT_UNSUPPORTED;
  if (isClipboardPath(path)) return detectFormat(path);
  return classifyFile(path);
}

}  // namespace vlm
