// ASCII case folding: names (classes, messages, modules, resources, registry
// keys, file names and patterns, programs) ignore the case of ASCII letters
// only, whatever the locale, in UTF-16 and in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

template <class Char>
constexpr Char asciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? Char(c - 'A' + 'a') : c;
}
template <class Char>
constexpr Char asciiUpper(Char c) {
  return c >= Char('a') && c <= Char('z') ? Char(c - 'a' + 'A') : c;
}

template <class Char>
std::basic_string<Char> asciiLowered(std::basic_string<Char> s) {
  for (auto& c : s) c = asciiLower(c);
  return s;
}
inline std::u16string asciiLowered(std::u16string_view s) { return asciiLowered(std::u16string(s)); }
inline std::string asciiLowered(std::string_view s) { return asciiLowered(std::string(s)); }

template <class Char>
bool asciiEqualNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}
inline bool asciiEqualNoCase(std::u16string_view a, std::u16string_view b) { return asciiEqualNoCase<char16_t>(a, b); }
inline bool asciiEqualNoCase(std::string_view a, std::string_view b) { return asciiEqualNoCase<char>(a, b); }

template <class Char>
bool asciiEndsWithNoCase(std::basic_string_view<Char> s, std::basic_string_view<Char> suffix) {
  return s.size() >= suffix.size() && asciiEqualNoCase(s.substr(s.size() - suffix.size()), suffix);
}
inline bool asciiEndsWithNoCase(std::u16string_view s, std::u16string_view suffix) {
  return asciiEndsWithNoCase<char16_t>(s, suffix);
}
inline bool asciiEndsWithNoCase(std::string_view s, std::string_view suffix) {
  return asciiEndsWithNoCase<char>(s, suffix);
}

}  // namespace platform
