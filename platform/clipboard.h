// The clipboard behind an interface: the GUI plugs in the desktop clipboard, the command line
// maps it to standard input (reading) and standard output (writing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/memblock.h"

namespace vlm {

class ClipboardBackend {
 public:
  virtual ~ClipboardBackend() = default;
  // The clipboard text, or false when there is none.
  virtual bool getText(std::string& text) = 0;
  virtual void putText(const char* text, size_t length) = 0;
};

// The backend in use; the default one holds the text in memory (used by tests).
void setClipboardBackend(ClipboardBackend* backend);
ClipboardBackend& clipboardBackend();

// Text: a block holding the text and its terminating zero; `length` = characters before the zero.
void* loadClipboardText(uint8_t** pointer, int32_t* length);
uint32_t readClipboardPrefix(uint8_t* buffer, uint32_t n);
int blockFromClipboard(MemBlock* block);
void putClipboardText(const char* text, size_t length);

// Standard input and output, for the command line. Standard input is read once, on first use.
ClipboardBackend& stdioClipboard();

}  // namespace vlm
