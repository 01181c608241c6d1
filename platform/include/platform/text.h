// UTF-8 / UTF-16 conversion. Code page 65001 (and the ANSI code pages, whose
// narrow text is UTF-8 here) with strict checks: malformed UTF-8, overlong
// forms, encoded surrogates and lone UTF-16 surrogates are refused with
// ERROR_NO_UNICODE_TRANSLATION instead of being passed on silently.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080

// Counts include the terminating NUL when the source length is -1. With a
// destination size of 0 the needed size is returned and nothing is written.
// A destination too small gives 0 and ERROR_INSUFFICIENT_BUFFER.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

namespace platform {

// The text a wide string that cannot be converted turns into.
inline constexpr const char* kCouldNotConvert = "** could not convert to multi-byte **";

// Wide to UTF-8; a malformed wide text becomes kCouldNotConvert.
std::string narrow(std::u16string_view text);
// UTF-8 to wide; malformed bytes become U+FFFD each.
std::u16string widen(std::string_view text);

// Strict conversions; false on malformed input.
bool utf8ToUtf16(std::string_view in, std::u16string* out);
bool utf16ToUtf8(std::u16string_view in, std::string* out);

// Length of a NUL-terminated wide string.
size_t wideLength(const char16_t* s);

}  // namespace platform
