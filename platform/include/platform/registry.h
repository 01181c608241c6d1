// The registry: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, each kept as one
// text file in the configuration folder. Every change is written through at
// once, atomically. Keys and value names compare without regard to ASCII
// case. Values under HKEY_LOCAL_MACHINE\System\State are volatile: they are
// never written and describe the device (see device.h).
#pragma once

#include <string>

#include "platform/handles.h"

typedef DWORD REGSAM;
typedef HKEY* PHKEY;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

// Results are Win32 error codes (ERROR_SUCCESS on success).
LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM samDesired,
                    LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);
// With `data` NULL only the size is reported; a buffer too small gives
// ERROR_MORE_DATA and the needed size in *dataBytes.
LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataBytes);
LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataBytes);
LONG RegDeleteValue(HKEY key, LPCWSTR valueName);
// Deletes a key that has no sub-keys.
LONG RegDeleteKey(HKEY key, LPCWSTR subKey);
LONG RegCloseKey(HKEY key);

namespace platform {

// The per-user configuration folder: $OLVARO_HOME when set, else
// $XDG_CONFIG_HOME/olvaro, else ~/.config/olvaro. No trailing slash.
std::string configFolder();

// Forgets what was read from the hive files, so the next call reads them
// again (tests that change OLVARO_HOME or damage a file).
void registryReset();
// Keeps the hives in this process's memory alone, starting empty: no file is
// read, written or locked until it is switched off again (registryReset then
// empties them). For a fuzzer that changes settings thousands of times a
// second; each write would otherwise be a flushed file.
void registryKeepInMemory(bool on);

}  // namespace platform
