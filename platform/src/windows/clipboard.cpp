// The clipboard: Unicode text only, kept in the process unless a backend
// (the desktop's clipboard) takes it.
#include <algorithm>
#include <functional>
#include <mutex>
#include <string>

#include "local_memory.h"
#include "platform/shell.h"

namespace platform {
namespace {

struct Clipboard {
  std::mutex lock;
  bool open = false;
  std::u16string text;
  bool hasText = false;
  HANDLE block = nullptr;  // what GetClipboardData last handed out
  std::function<bool(std::u16string*)> get;
  std::function<bool(const std::u16string&)> set;
};

Clipboard& clipboard() {
  static auto* c = new Clipboard;
  return *c;
}

}  // namespace

void setClipboardBackend(std::function<bool(std::u16string*)> get, std::function<bool(const std::u16string&)> set) {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  c.get = std::move(get);
  c.set = std::move(set);
}

}  // namespace platform

using namespace platform;

BOOL OpenClipboard(HWND) {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  if (c.open) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  c.open = true;
  return TRUE;
}

BOOL CloseClipboard() {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  if (!c.open) return FALSE;
  c.open = false;
  return TRUE;
}

BOOL EmptyClipboard() {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  if (!c.open) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  c.text.clear();
  c.hasText = false;
  if (c.set) c.set(u"");
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE mem) {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  size_t bytes = 0;
  if (!c.open || format != CF_UNICODETEXT || !localBlockSize(mem, &bytes)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Read no further than the block, whether or not the text ends in it.
  const auto* p = static_cast<const char16_t*>(mem);
  size_t max = bytes / sizeof(char16_t), n = 0;
  while (n < max && p[n]) ++n;
  c.text.assign(p, n);
  c.hasText = true;
  if (c.set) c.set(c.text);
  LocalFree(mem);
  return mem;
}

HANDLE GetClipboardData(UINT format) {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  if (!c.open || format != CF_UNICODETEXT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (c.get) {
    std::u16string t;
    if (c.get(&t)) {
      c.text = t;
      c.hasText = true;
    }
  }
  if (!c.hasText) return nullptr;
  if (c.block) LocalFree(c.block);
  c.block = LocalAlloc(LPTR, (c.text.size() + 1) * sizeof(char16_t));
  if (!c.block) return nullptr;
  std::copy(c.text.begin(), c.text.end(), static_cast<char16_t*>(c.block));
  return c.block;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  auto& c = clipboard();
  std::lock_guard<std::mutex> g(c.lock);
  if (format != CF_UNICODETEXT) return FALSE;
  if (c.get) {
    std::u16string t;
    return c.get(&t) && !t.empty();
  }
  return c.hasText;
}
