// LocalAlloc blocks: plain heap blocks, remembered so that a pointer that is
// not one of them is refused, and so the clipboard knows a block's size.
#include <cstdlib>
#include <map>
#include <mutex>

#include "local_memory.h"
#include "platform/handles.h"

namespace platform {
namespace {

// Live LocalAlloc blocks and their sizes: a pointer that is not one of them
// is refused without being read.
std::mutex g_localLock;
std::map<const void*, size_t>& localBlocks() {
  static auto* m = new std::map<const void*, size_t>;
  return *m;
}

}  // namespace

bool localBlockSize(HLOCAL mem, size_t* size) {
  std::lock_guard<std::mutex> g(g_localLock);
  auto it = localBlocks().find(mem);
  if (it == localBlocks().end()) return false;
  *size = it->second;
  return true;
}

}  // namespace platform

using namespace platform;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* p = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> g(g_localLock);
  localBlocks()[p] = bytes;
  return p;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (!mem) return nullptr;
  {
    std::lock_guard<std::mutex> g(g_localLock);
    if (!localBlocks().erase(mem)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return mem;
    }
  }
  std::free(mem);
  return nullptr;
}

SIZE_T LocalSize(HLOCAL mem) {
  size_t size = 0;
  return localBlockSize(mem, &size) ? size : 0;
}
