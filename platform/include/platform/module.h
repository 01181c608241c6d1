// Module loading over the dynamic linker. A module handle is the handle the
// dynamic linker gives for the library; GetModuleHandle(NULL) is the main
// program. "aygshell.dll" (or "aygshell") names the platform library itself,
// whose shell functions are looked up by name from a table (they are C++
// functions, so the linker's names would not match).
#pragma once

#include <string>

#include "platform/handles.h"

#define MAX_PATH 260

// A bare file name is looked for in the main program's folder first, then
// where the dynamic linker looks. Backslashes count as folder separators.
HMODULE LoadLibrary(LPCWSTR fileName);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// NULL gives the main program; otherwise a module already loaded.
HMODULE GetModuleHandle(LPCWSTR moduleName);
// Copies the module's full path; a buffer too small gets the path cut to
// fit with its NUL, the result is `size` and the error
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileName(HMODULE module, LPWSTR fileName, DWORD size);

namespace platform {

// The platform library's own module (what "aygshell.dll" loads).
HMODULE shellModule();
// Adds a function that GetProcAddress finds by `name` in the shell module.
void registerShellExport(const char* name, FARPROC proc);

// Test hooks: make a library name fail to load, or a function name be
// missing from every module; `false` undoes it.
void testHideModule(const std::u16string& fileName, bool hidden = true);
void testHideProc(const std::string& procName, bool hidden = true);

// The module that holds the given address (NULL when none).
HMODULE moduleOfAddress(const void* address);

}  // namespace platform
