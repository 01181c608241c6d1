// Files, folder listing and mapped files over POSIX. Paths are UTF-16;
// backslashes count as folder separators. A shortcut ("name.lnk") in the
// start-up folder is the autostart entry "name.desktop" (see shell.h), so
// looking it up, listing it and deleting it work with the ".lnk" name.
#pragma once

#include <string>

#include "platform/module.h"
#include "platform/systime.h"

#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

struct WIN32_FIND_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATA* LPWIN32_FIND_DATA;

// The pattern's last component may hold "*" and "?"; matching ignores ASCII
// case, as on the device's file system. "." and ".." are not listed; the
// names come sorted.
HANDLE FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATA data);
BOOL FindNextFile(HANDLE find, LPWIN32_FIND_DATA data);
BOOL FindClose(HANDLE find);

// Files are created readable and writable by their owner only. Share modes
// hold within the process, per file (device and inode) whatever the name:
// an open whose access another open's share mode forbids, or whose share
// mode forbids another open's access, fails with ERROR_SHARING_VIOLATION
// until that handle is closed. A file mapping does not hold the share.
HANDLE CreateFile(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                  DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);

// A mapping of an empty file fails with ERROR_FILE_INVALID, as on Win32.
HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD maxSizeHigh, DWORD maxSizeLow,
                         LPCWSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID base);

BOOL DeleteFile(LPCWSTR fileName);
// Fails with ERROR_ALREADY_EXISTS when the new name exists.
BOOL MoveFile(LPCWSTR existingName, LPCWSTR newName);
BOOL CopyFile(LPCWSTR existingName, LPCWSTR newName, BOOL failIfExists);
BOOL CreateDirectory(LPCWSTR pathName, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectory(LPCWSTR pathName);
DWORD GetFileAttributes(LPCWSTR fileName);
// The temporary folder ($TMPDIR or /tmp) with a trailing separator.
DWORD GetTempPath(DWORD size, LPWSTR buffer);

namespace platform {

// The native form of a path (see the top of this header).
std::string nativePath(const std::u16string& path);

// The user's own folder for temporary files, natively, with a trailing '/':
// "olvaro" under $XDG_RUNTIME_DIR, else "olvaro/temp" under the cache folder
// ($XDG_CACHE_HOME, else ~/.cache); "temp" under $OLVARO_HOME when that is
// set. Made 0700 when missing, tightened to 0700 when looser; empty when the
// name is a link or anything but a folder of the user's, so nothing goes
// where another user can read it or plant a link.
std::string privateTempFolder();

}  // namespace platform
