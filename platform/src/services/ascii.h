// ASCII case folding: names (classes, messages, modules, resources, registry
// keys, file extensions) ignore the case of ASCII letters only.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }
constexpr char16_t asciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

inline std::u16string asciiLowered(std::u16string s) {
  for (auto& c : s) c = asciiLower(c);
  return s;
}

inline bool asciiEqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

inline bool asciiEndsWithNoCase(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && asciiEqualNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace platform
