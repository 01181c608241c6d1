#include "registry_format.h"

#include <cstdio>
#include <cstring>

#include "ascii.h"
#include "little_endian.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kHeader = "; olvaro registry 1";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendEscaped(std::u16string_view s, std::string* out) {
  static const char* hex = "0123456789abcdef";
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u'\\') {
      *out += "\\\\";
    } else if (c == u'"') {
      *out += "\\\"";
    } else if (c == u'\n') {
      *out += "\\n";
    } else if (c == u'\r') {
      *out += "\\r";
    } else if (c == u'\t') {
      *out += "\\t";
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      *out += narrow(s.substr(i, 2));
      ++i;
    } else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
      *out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) *out += hex[(c >> shift) & 15];
    } else {
      *out += narrow(s.substr(i, 1));
    }
  }
}

// Decodes escaped UTF-8 text; stops at an unescaped `stop` character (or the
// end when stop is 0). Returns the position after the text, or npos.
size_t decodeEscaped(std::string_view line, size_t pos, char stop, std::u16string* out) {
  out->clear();
  std::string run;  // plain UTF-8 bytes not yet converted
  auto flush = [&]() -> bool {
    if (run.empty()) return true;
    std::u16string w;
    if (!utf8ToUtf16(run, &w)) return false;
    *out += w;
    run.clear();
    return true;
  };
  while (pos < line.size()) {
    char c = line[pos];
    if (stop && c == stop) return flush() ? pos : std::string_view::npos;
    if (c != '\\') {
      run += c;
      ++pos;
      continue;
    }
    if (!flush() || pos + 1 >= line.size()) return std::string_view::npos;
    char e = line[pos + 1];
    pos += 2;
    switch (e) {
      case '\\': *out += u'\\'; break;
      case '"': *out += u'"'; break;
      case 'n': *out += u'\n'; break;
      case 'r': *out += u'\r'; break;
      case 't': *out += u'\t'; break;
      case 'u': {
        if (pos + 4 > line.size()) return std::string_view::npos;
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
          int d = hexDigit(line[pos + k]);
          if (d < 0) return std::string_view::npos;
          v = v * 16 + static_cast<unsigned>(d);
        }
        *out += static_cast<char16_t>(v);
        pos += 4;
        break;
      }
      default: return std::string_view::npos;
    }
    if (out->size() > kMaxNameChars + kMaxValueBytes) return std::string_view::npos;
  }
  if (stop) return std::string_view::npos;
  return flush() ? pos : std::string_view::npos;
}

bool isSingleText(const std::vector<uint8_t>& d) {
  if (d.size() < 2 || d.size() % 2) return false;
  size_t n = d.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    bool zero = d[2 * i] == 0 && d[2 * i + 1] == 0;
    if (zero != (i == n - 1)) return false;
  }
  return true;
}

bool parseValueLine(std::string_view line, RegValue* v) {
  if (line.empty() || line[0] != '"') return false;
  size_t end = decodeEscaped(line, 1, '"', &v->name);
  if (end == std::string_view::npos || v->name.size() > kMaxNameChars) return false;
  std::string_view rest = line.substr(end + 1);
  if (rest.empty() || rest[0] != '=') return false;
  rest.remove_prefix(1);
  v->data.clear();
  if (rest.substr(0, 4) == "sz:\"") {
    std::u16string text;
    size_t close = decodeEscaped(rest, 4, '"', &text);
    if (close == std::string_view::npos || close + 1 != rest.size()) return false;
    if ((text.size() + 1) * 2 > kMaxValueBytes) return false;
    v->type = 1;  // REG_SZ
    for (char16_t c : text) {
      v->data.push_back(static_cast<uint8_t>(c & 0xFF));
      v->data.push_back(static_cast<uint8_t>(c >> 8));
    }
    v->data.push_back(0);
    v->data.push_back(0);
    return true;
  }
  if (rest.substr(0, 6) == "dword:") {
    std::string_view digits = rest.substr(6);
    if (digits.size() != 8) return false;
    uint32_t x = 0;
    for (char c : digits) {
      int d = hexDigit(c);
      if (d < 0) return false;
      x = x * 16 + static_cast<uint32_t>(d);
    }
    v->type = 4;  // REG_DWORD
    for (int k = 0; k < 4; ++k) v->data.push_back(static_cast<uint8_t>(x >> (8 * k)));
    return true;
  }
  if (rest.substr(0, 4) == "hex(") {
    size_t close = rest.find("):", 4);
    if (close == std::string_view::npos || close == 4 || close > 14) return false;
    uint64_t type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (rest[i] < '0' || rest[i] > '9') return false;
      type = type * 10 + static_cast<uint64_t>(rest[i] - '0');
      if (type > 0xFFFFFFFFu) return false;
    }
    v->type = static_cast<DWORD>(type);
    std::string_view bytes = rest.substr(close + 2);
    for (size_t i = 0; i < bytes.size();) {
      if (i + 2 > bytes.size()) return false;
      int hi = hexDigit(bytes[i]), lo = hexDigit(bytes[i + 1]);
      if (hi < 0 || lo < 0) return false;
      v->data.push_back(static_cast<uint8_t>(hi * 16 + lo));
      if (v->data.size() > kMaxValueBytes) return false;
      i += 2;
      if (i < bytes.size()) {
        if (bytes[i] != ',' || i + 1 == bytes.size()) return false;
        ++i;
      }
    }
    return true;
  }
  return false;
}

}  // namespace

std::u16string regFold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    c = asciiUpper(c);
  return out;
}

bool parseHive(std::string_view text, RegHive* out) {
  out->clear();
  (*out)[u""].path.clear();
  if (text.size() > kMaxHiveFileBytes) return false;
  bool sound = true;
  bool sawHeader = false;
  RegKeyNode* current = nullptr;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    // A last line without its newline was cut short by a failed write.
    if (nl == std::string_view::npos) {
      sound = false;
      break;
    }
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      first = false;
      if (line == kHeader) {
        sawHeader = true;
        continue;
      }
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      current = nullptr;
      std::u16string path;
      if (line.size() < 2 || line.back() != ']' ||
          decodeEscaped(line.substr(0, line.size() - 1), 1, 0, &path) == std::string_view::npos ||
          path.size() > kMaxNameChars) {
        sound = false;
        continue;
      }
      bool goodPath = true;
      size_t start = 0;
      while (!path.empty() && start <= path.size()) {
        size_t bs = path.find(u'\\', start);
        if (bs == std::u16string::npos) bs = path.size();
        if (bs == start) goodPath = false;
        start = bs + 1;
      }
      if (!goodPath) {
        sound = false;
        continue;
      }
      RegKeyNode& node = (*out)[regFold(path)];
      node.path = path;
      current = &node;
      continue;
    }
    RegValue v;
    if (!current || !parseValueLine(line, &v)) {
      sound = false;
      continue;
    }
    std::u16string key = regFold(v.name);
    current->values[key] = std::move(v);
  }
  // Ancestors of every key exist too.
  std::vector<std::pair<std::u16string, std::u16string>> missing;
  for (auto& [folded, node] : *out) {
    for (size_t bs = node.path.find(u'\\'); bs != std::u16string::npos; bs = node.path.find(u'\\', bs + 1)) {
      std::u16string parent = node.path.substr(0, bs);
      if (!out->count(regFold(parent))) missing.emplace_back(regFold(parent), parent);
    }
  }
  for (auto& [folded, path] : missing) (*out)[folded].path = path;
  return sound && sawHeader;
}

std::string serializeHive(const RegHive& hive, bool (*skip)(const std::u16string&)) {
  std::string out(kHeader);
  out += '\n';
  char buf[16];
  for (const auto& [folded, node] : hive) {
    if (skip && skip(folded)) continue;
    out += '\n';
    out += '[';
    appendEscaped(node.path, &out);
    out += "]\n";
    for (const auto& [fname, v] : node.values) {
      out += '"';
      appendEscaped(v.name, &out);
      out += "\"=";
      if (v.type == 1 && isSingleText(v.data)) {
        std::u16string text;
        for (size_t i = 0; i + 2 < v.data.size(); i += 2)
          text += static_cast<char16_t>(readLe16(&v.data[i]));
        out += "sz:\"";
        appendEscaped(text, &out);
        out += '"';
      } else if (v.type == 4 && v.data.size() == 4) {
        uint32_t x = readLe32(v.data.data());
        std::snprintf(buf, sizeof buf, "%08x", x);
        out += "dword:";
        out += buf;
      } else {
        std::snprintf(buf, sizeof buf, "hex(%u):", static_cast<unsigned>(v.type));
        out += buf;
        for (size_t i = 0; i < v.data.size(); ++i) {
          std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
          out += buf;
        }
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace platform
