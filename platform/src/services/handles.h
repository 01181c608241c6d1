// The process's table of kernel handles. A handle is a small number that
// maps to a counted object, so a stale or forged handle is refused instead
// of being dereferenced, and an object stays alive while a call uses it.
#pragma once

#include <memory>

#include "platform/handles.h"

namespace platform {

enum class KernelKind { File, Mapping, Thread, Event, Mutex, Process, Find, Connection };

struct KernelObject {
  explicit KernelObject(KernelKind k) : kind(k) {}
  virtual ~KernelObject() = default;
  KernelKind kind;
};

HANDLE addHandle(std::shared_ptr<KernelObject> object);
// The object behind `h` when it has the given kind, else null.
std::shared_ptr<KernelObject> lookupHandle(HANDLE h);
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE h, KernelKind kind) {
  auto o = lookupHandle(h);
  if (!o || o->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(o);
}
// Removes the handle; returns the object it held (null when unknown).
std::shared_ptr<KernelObject> removeHandle(HANDLE h);

}  // namespace platform
