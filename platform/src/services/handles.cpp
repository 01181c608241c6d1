#include "handles.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;

struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  // Handle values are multiples of 4 well away from null and from
  // INVALID_HANDLE_VALUE; they are never reused within a run.
  uintptr_t next = 0x10000;
};

HandleTable& table() {
  static HandleTable* t = new HandleTable;  // outlives static destructors
  return *t;
}

}  // namespace

HANDLE addHandle(std::shared_ptr<KernelObject> object) {
  auto& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  uintptr_t v = t.next;
  t.next += 4;
  t.objects.emplace(v, std::move(object));
  return reinterpret_cast<HANDLE>(v);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE h) {
  auto& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> removeHandle(HANDLE h) {
  auto& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.objects.end()) return nullptr;
  auto o = std::move(it->second);
  t.objects.erase(it);
  return o;
}

DWORD errorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: return ERROR_DISK_FULL;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_BAD_PATHNAME;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace platform

DWORD GetLastError() { return platform::t_lastError; }

void SetLastError(DWORD error) { platform::t_lastError = error; }

BOOL CloseHandle(HANDLE h) {
  // Find handles close with FindClose only.
  auto found = platform::lookupHandle(h);
  auto o = found && found->kind != platform::KernelKind::Find ? platform::removeHandle(h) : nullptr;
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
