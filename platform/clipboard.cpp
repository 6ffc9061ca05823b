// The clipboard layer behind a backend: an in-memory one by default (tests), the
// desktop clipboard in the GUI, standard input and output on the command line.
#include "platform/clipboard.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace vlm {

namespace {

class MemoryClipboard : public ClipboardBackend {
 public:
  bool getText(std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!has_) return false;
    text = text_;
    return true;
  }
  void putText(const char* text, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.assign(text, length);
    has_ = true;
  }

 private:
  std::mutex mutex_;
  std::string text_;
  bool has_ = false;
};

// Standard input is read whole on the first request and kept, so several reads of the
// clipboard in one run see the same text. An empty standard input is no text.
class StdioClipboard : public ClipboardBackend {
 public:
  bool getText(std::string& text) override {
    std::call_once(once_, [this] {
      char buffer[65536];
      for (;;) {
        ssize_t r = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        input_.append(buffer, size_t(r));
      }
    });
    if (input_.empty()) return false;
    text = input_;
    return true;
  }
  void putText(const char* text, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fflush(stdout);
    size_t done = 0;
    while (done < length) {
      ssize_t w = ::write(STDOUT_FILENO, text + done, length - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += size_t(w);
    }
  }

 private:
  std::once_flag once_;
  std::string input_;
  std::mutex mutex_;
};

MemoryClipboard& memoryClipboard() {
  static MemoryClipboard clipboard;
  return clipboard;
}

ClipboardBackend* current = nullptr;

// The text up to its first zero, as CF_TEXT reads.
bool clipboardText(std::string& text) {
  if (!clipboardBackend().getText(text)) return false;
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return true;
}

}  // namespace

void setClipboardBackend(ClipboardBackend* backend) {
  current = backend;
}

ClipboardBackend& clipboardBackend() {
  return current ? *current : memoryClipboard();
}

ClipboardBackend& stdioClipboard() {
  static StdioClipboard clipboard;
  return clipboard;
}

void* loadClipboardText(uint8_t** pointer, int32_t* length) {
  if (pointer) *pointer = nullptr;
  if (length) *length = 0;
  std::string text;
  if (!clipboardText(text)) return nullptr;
  if (text.size() > size_t(INT32_MAX - 1)) return nullptr;
  uint8_t* data = nullptr;
  void* handle = allocBlock(&data, text.size() + 1);  // zero-filled: the terminator is there
  if (!handle) return nullptr;
  std::memcpy(data, text.data(), text.size());
  if (pointer) *pointer = data;
  if (length) *length = int32_t(text.size());
  return handle;
}

uint32_t readClipboardPrefix(uint8_t* buffer, uint32_t n) {
  std::string text;
  if (!buffer || n == 0 || !clipboardText(text)) return 0;
  if (text.size() >= n) {
    std::memcpy(buffer, text.data(), n);
    return n;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = 0;  // the terminator is copied too, then reading stops
  return uint32_t(text.size());
}

int blockFromClipboard(MemBlock* block) {
  blockFree(block);
  block->handle = loadClipboardText(&block->data, &block->length);
  return block->handle ? 1 : 0;
}

void putClipboardText(const char* text, size_t length) {
  if (!text || length == 0) return;
  clipboardBackend().putText(text, length);
}

}  // namespace vlm
