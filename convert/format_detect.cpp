// Classifies a path by its extension, looking at the first four bytes only where one extension
// covers several formats. Never reads more than five bytes and never fails loudly.
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
    return count >= 4 && std::memcmp(bytes, magic, 4) == 0;
  }
};

bool extensionIs(const char* extension, const char* candidate) {
  return strcasecmp(extension, candidate) == 0;
}

bool extensionIsOneOf(const char* extension, std::initializer_list<const char*> candidates) {
  for (const char* candidate : candidates)
    if (extensionIs(extension, candidate)) return true;
  return false;
}

// The extension rules, in order; the first match decides.
FormatCode classifyByExtension(const char* ext, const Header& header) {
  if (extensionIs(ext, ".als")) return FORMAT_ALS;
  if (extensionIs(ext, ".dat")) return FORMAT_DAT;
  if (extensionIs(ext, ".cmd")) return FORMAT_CMD;
  if (extensionIs(ext, ".pmd")) {
    if (header.startsWith("cmid")) return FORMAT_PMD;
    if (header.startsWith("MThd")) return FORMAT_SMF;
    return FORMAT_PMD_RAW;
  }
  if (extensionIsOneOf(ext, {".mmd", ".mel", ".sml"})) return FORMAT_MEL;
  if (extensionIs(ext, ".wam")) return FORMAT_UNSUPPORTED;
  if (extensionIs(ext, ".mld"))
    return header.startsWith(REFUSED_MLD_MAGIC) ? FORMAT_UNSUPPORTED : FORMAT_MLD;
  if (extensionIs(ext, ".dlm")) return FORMAT_MLD;
  if (extensionIs(ext, ".smd")) return header.startsWith("MMMD") ? FORMAT_SMAF : FORMAT_SMD_TEXT;
  if (extensionIs(ext, ".smz"))
    return header.startsWith("MMMD") ? FORMAT_SMZ_SMAF : FORMAT_SMZ_TEXT;
  if (extensionIs(ext, ".mmf")) return FORMAT_SMAF;
  if (extensionIs(ext, ".dxm")) return FORMAT_DXM;
  if (extensionIsOneOf(ext, {".mml", ".mmlc"})) return FORMAT_MML;
  if (extensionIsOneOf(ext, {".mid", ".midi", ".rmi", ".kar"})) return FORMAT_SMF;
  if (extensionIs(ext, ".vlm")) return FORMAT_VLM;
  if (extensionIs(ext, ".txt")) return FORMAT_MLD;
  if (extensionIs(ext, ".m3u")) return FORMAT_PLAYLIST;
  if (extensionIs(ext, ".qcp")) return FORMAT_QCP;
  if (extensionIs(ext, ".wav")) return FORMAT_WAV;
  return FORMAT_UNSUPPORTED;
}

// Only these extensions look at the first bytes; for every other one the header is not read,
// which spares a batch of thousands of files an open and a read each.
bool extensionNeedsHeader(const char* ext) {
  return extensionIsOneOf(ext, {".pmd", ".mld", ".smd", ".smz"});
}

FormatCode classifyFile(const char* path) {
  PathParts parts;
  splitPath(path, &parts);
  Header header;
  if (extensionNeedsHeader(parts.extension))
    header.count = readFilePrefix(path, header.bytes, HEADER_BYTES);
  return classifyByExtension(parts.extension, header);
}

}  // namespace

FormatCode detectFormat(const char* path) {
  if (!path) return FORMAT_UNSUPPORTED;
  if (isClipboardPath(path)) {
    PathParts parts;
    splitPath(path, &parts);
    Header header;
    header.count = readClipboardPrefix(header.bytes, HEADER_BYTES);
    return classifyByExtension(parts.extension, header);
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
