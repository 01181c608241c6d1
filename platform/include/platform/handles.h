// Kernel handles and the per-thread error code shared by files, threads,
// events, mutexes, file mappings and processes.
#pragma once

#include "platform/types.h"

typedef size_t SIZE_T;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define ERROR_FILE_EXISTS 80L
#define ERROR_HANDLE_EOF 38L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_FILE_INVALID 1006L
#define ERROR_NOT_OWNER 288L
#define ERROR_GEN_FAILURE 31L
#define ERROR_DISK_FULL 112L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_BAD_FORMAT 11L
#define ERROR_FILENAME_EXCED_RANGE 206L

DWORD GetLastError();
void SetLastError(DWORD error);
// Closes a file, mapping, thread, event, mutex or process handle.
BOOL CloseHandle(HANDLE h);

namespace platform {

// Maps an errno value to the nearest Win32 error code.
DWORD errorFromErrno(int err);

}  // namespace platform
