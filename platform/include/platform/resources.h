// Resources compiled into a module: string tables, icon groups and their
// images, soft-key menu bars and WAVE data. Each module (program, plug-in,
// test program) carries one table, made from its sources at build time by
// olvaro_add_resources() (see platform/README.md); the table registers
// itself when the module loads, so lookups by module handle need no
// exported symbol. GetModuleHandle(NULL) is the main program.
#pragma once

#include <string>
#include <vector>

#include "platform/module.h"

typedef HANDLE HGLOBAL;

#define RT_ICON MAKEINTRESOURCE(3)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
// The soft-key menu bars (see platform::loadMenuBar).
#define RT_MENUBAR u"MENUBAR"
#define RT_WAVE u"WAVE"

#pragma pack(push, 2)
// An icon group: the images it offers, each a separate RT_ICON resource.
struct GRPICONDIRENTRY {
  BYTE bWidth;
  BYTE bHeight;
  BYTE bColorCount;
  BYTE bReserved;
  WORD wPlanes;
  WORD wBitCount;
  DWORD dwBytesInRes;
  WORD nID;
};
struct GRPICONDIR {
  WORD idReserved;
  WORD idType;
  WORD idCount;
  GRPICONDIRENTRY idEntries[1];
};
#pragma pack(pop)

// Names and types compare without regard to ASCII case; integer ones are
// given with MAKEINTRESOURCE. String tables are kept per string id:
// FindResource(module, MAKEINTRESOURCE(id), RT_STRING) finds one string
// (UTF-16, no NUL).
HRSRC FindResource(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Copies the string (cut to size - 1 characters) with its NUL and returns
// its length; 0 when absent. With size 0 the read-only text itself is
// stored in *(LPCWSTR*)buffer, not terminated, and its length returned.
int LoadString(HINSTANCE module, UINT id, LPWSTR buffer, int size);

namespace platform {

// How a module's table looks in the generated code.
struct ResourceEntry {
  unsigned typeId;          // when typeName is null
  const char16_t* typeName;
  unsigned nameId;          // when name is null
  const char16_t* name;
  const unsigned char* data;
  unsigned size;
};
struct ResourceTable {
  const ResourceEntry* entries;
  unsigned count;
};
// A static object of each module: registers the module's table for the
// module that holds it, and withdraws it when the module unloads.
class ResourceRegistration {
 public:
  explicit ResourceRegistration(const ResourceTable* table);
  ~ResourceRegistration();
  ResourceRegistration(const ResourceRegistration&) = delete;
  ResourceRegistration& operator=(const ResourceRegistration&) = delete;

 private:
  const ResourceTable* table_;
};

// A soft-key menu bar as compiled: the top items are the soft keys, a key
// with children opens them as a menu.
struct MenuBarItem {
  enum Flags : unsigned { Popup = 1, Separator = 2, Grayed = 4 };
  unsigned flags = 0;
  UINT id = 0;
  std::u16string text;
  std::vector<MenuBarItem> children;
};
// False when the module has no such menu bar or its data is damaged.
bool loadMenuBar(HMODULE module, UINT id, std::vector<MenuBarItem>* keys);

// A string resource of a module, whole (LoadString cuts to a buffer); empty
// when the module has no such string.
std::u16string loadStringWide(HINSTANCE module, UINT id);
std::string loadStringUtf8(HINSTANCE module, UINT id);

// The module the calling code was compiled into: each translation unit gets
// its own anchor, so a plug-in finds itself, not the platform library.
namespace {
[[maybe_unused]] inline HMODULE currentModule() {
  static const char anchor = 0;
  return moduleOfAddress(&anchor);
}
}  // namespace

}  // namespace platform
