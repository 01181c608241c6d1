#include "platform/text.h"

#include <cstring>

#include "platform/handles.h"

namespace platform {
namespace {

// Decodes one code point at s[i]; returns its length, or 0 when malformed.
size_t decodeUtf8(std::string_view s, size_t i, char32_t* cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t len;
  char32_t v, min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char t = b(i + k);
    if ((t & 0xC0) != 0x80) return 0;
    v = (v << 6) | (t & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

void appendUtf16(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void appendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool knownCodePage(UINT cp) { return cp == CP_UTF8 || cp == CP_ACP || cp == CP_OEMCP || cp == CP_THREAD_ACP; }

}  // namespace

bool utf8ToUtf16(std::string_view in, std::u16string* out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    char32_t cp;
    size_t n = decodeUtf8(in, i, &cp);
    if (!n) return false;
    appendUtf16(cp, out);
    i += n;
  }
  return true;
}

bool utf16ToUtf8(std::u16string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    appendUtf8(c, out);
  }
  return true;
}

std::string narrow(std::u16string_view text) {
  std::string out;
  if (!utf16ToUtf8(text, &out)) return kCouldNotConvert;
  return out;
}

std::u16string widen(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t n = decodeUtf8(text, i, &cp);
    if (!n) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    appendUtf16(cp, &out);
    i += n;
  }
  return out;
}

size_t wideLength(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace platform

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars) {
  if (!platform::knownCodePage(codePage) || !src || srcBytes == 0 || srcBytes < -1 || dstChars < 0 ||
      (dstChars > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t len = srcBytes == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcBytes);
  std::u16string out;
  if (!platform::utf8ToUtf16(std::string_view(src, len), &out)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (out.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dstChars == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(dstChars)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  // UTF-8 has no default character: asking for one is an error, as on Win32.
  if (!platform::knownCodePage(codePage) || !src || srcChars == 0 || srcChars < -1 || dstBytes < 0 ||
      (dstBytes > 0 && !dst) || defaultChar || usedDefaultChar) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t len = srcChars == -1 ? platform::wideLength(src) + 1 : static_cast<size_t>(srcChars);
  std::string out;
  if (!platform::utf16ToUtf8(std::u16string_view(src, len), &out)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (out.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dstBytes == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(dstBytes)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}
