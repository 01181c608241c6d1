// The resource compiler: turns a module's resource sources into one C++
// file holding its resource table, which registers itself with the
// platform when the module is loaded.
//
//   olvaro-rc <output.cpp> <source>...
//
// Sources, by extension (the file's stem is the resource's name, or the
// name after an "@" that follows the path; a name of digits is a numeric
// id):
//   .ico      an icon group, its images become icon resources
//   .wav      WAVE data
//   .strings  a string table: lines "<id> <text>" or "<id> "<escaped text>""
//   .menubar  soft-key menu bars (see menubar syntax below)
//
// Menu bar syntax, nesting by indentation:
//   menubar 102
//     key "Hide" 1
//     popup "Menu" 103
//       item "Settings" 40015
//       separator
//       popup "More"
//         item "About..." 40004 grayed
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ico_format.h"

namespace {

struct Entry {
  unsigned typeId = 0;
  std::u16string typeName;
  unsigned nameId = 0;
  std::u16string name;
  std::vector<uint8_t> data;
};

[[noreturn]] void die(const std::string& msg) {
  std::fprintf(stderr, "olvaro-rc: %s\n", msg.c_str());
  std::exit(1);
}

std::u16string toUtf16(const std::string& s, const std::string& where) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) cp = c, n = 1;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, n = 3;
    else if ((c & 0xF8) == 0xF0) cp = c & 0x07, n = 4;
    else die(where + ": text is not UTF-8");
    if (i + n > s.size()) die(where + ": text is not UTF-8");
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) die(where + ": text is not UTF-8");
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

void putText(std::vector<uint8_t>& o, const std::u16string& s) {
  for (char16_t c : s) {
    o.push_back(static_cast<uint8_t>(c & 0xFF));
    o.push_back(static_cast<uint8_t>(c >> 8));
  }
}
void put16(std::vector<uint8_t>& o, unsigned v) {
  o.push_back(v & 255);
  o.push_back((v >> 8) & 255);
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
  for (int k = 0; k < 4; ++k) o.push_back((v >> (8 * k)) & 255);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) die("cannot read " + path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The name given after "@", cut off the path; empty when none.
std::string g_alias;

void nameFromStem(const std::string& path, Entry* e) {
  std::string base = path.substr(path.find_last_of('/') + 1);
  std::string stem = g_alias.empty() ? base.substr(0, base.rfind('.')) : g_alias;
  bool digits = !stem.empty() && stem.size() <= 5;
  for (char c : stem) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits && std::stoul(stem) > 0 && std::stoul(stem) < 65536)
    e->nameId = static_cast<unsigned>(std::stoul(stem));
  else
    e->name = toUtf16(stem, path);
}

// Quoted text with \" \\ \n \t escapes; `pos` moves past the closing quote.
std::string quoted(const std::string& line, size_t* pos, const std::string& where) {
  if (*pos >= line.size() || line[*pos] != '"') die(where + ": expected a quoted text");
  std::string out;
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < line.size()) {
      char e = line[++i];
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
    } else {
      out += c;
    }
  }
  die(where + ": unterminated text");
}

void addIcon(const std::string& path, unsigned* nextIconId, std::vector<Entry>* out) {
  std::string bytes = readFile(path);
  std::vector<platform::IcoDirEntry> dir;
  if (!platform::parseIcoDirectory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &dir))
    die(path + ": not an ICO file");
  Entry group;
  group.typeId = 14;  // RT_GROUP_ICON
  nameFromStem(path, &group);
  put16(group.data, 0);
  put16(group.data, 1);
  put16(group.data, static_cast<unsigned>(dir.size()));
  for (const auto& d : dir) {
    platform::DecodedIcon check;
    if (!platform::decodeIconImage(d.data, d.size, &check)) die(path + ": an image is damaged or compressed");
    Entry image;
    image.typeId = 3;  // RT_ICON
    image.nameId = (*nextIconId)++;
    image.data.assign(d.data, d.data + d.size);
    group.data.push_back(static_cast<uint8_t>(check.width & 255));
    group.data.push_back(static_cast<uint8_t>(check.height & 255));
    group.data.push_back(static_cast<uint8_t>(check.bitCount < 8 ? (1 << check.bitCount) : 0));
    group.data.push_back(0);
    put16(group.data, 1);
    put16(group.data, static_cast<unsigned>(check.bitCount));
    put32(group.data, static_cast<uint32_t>(d.size));
    put16(group.data, image.nameId);
    out->push_back(std::move(image));
  }
  out->push_back(std::move(group));
}

void addStrings(const std::string& path, std::vector<Entry>* out) {
  std::istringstream in(readFile(path));
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    std::string where = path + ":" + std::to_string(lineNo);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] == '#') continue;
    size_t q = p;
    while (q < line.size() && std::isdigit(static_cast<unsigned char>(line[q]))) ++q;
    if (q == p || q - p > 5 || std::stoul(line.substr(p, q - p)) > 65535) die(where + ": expected a string id");
    Entry e;
    e.typeId = 6;  // RT_STRING, one entry per string id
    e.nameId = static_cast<unsigned>(std::stoul(line.substr(p, q - p)));
    size_t t = line.find_first_not_of(" \t", q);
    std::string text = t == std::string::npos ? "" : line[t] == '"' ? quoted(line, &t, where) : line.substr(t);
    putText(e.data, toUtf16(text, where));
    out->push_back(std::move(e));
  }
}

struct MenuItem {
  unsigned flags = 0;  // 1 popup, 2 separator, 4 grayed
  uint32_t id = 0;
  std::u16string text;
  std::vector<MenuItem> children;
};

void putItems(std::vector<uint8_t>& o, const std::vector<MenuItem>& items) {
  put16(o, static_cast<unsigned>(items.size()));
  for (const auto& it : items) {
    put16(o, it.flags);
    put32(o, it.id);
    put16(o, static_cast<unsigned>(it.text.size()));
    putText(o, it.text);
    if (it.flags & 1) putItems(o, it.children);
  }
}

void addMenuBars(const std::string& path, std::vector<Entry>* out) {
  std::istringstream in(readFile(path));
  std::string line;
  int lineNo = 0;
  std::vector<MenuItem> top;
  unsigned barId = 0;
  bool inBar = false;
  // Open popups by indentation: (indent of their children, the list).
  std::vector<std::pair<size_t, std::vector<MenuItem>*>> stack;
  auto finish = [&] {
    if (!inBar) return;
    Entry e;
    e.typeName = u"MENUBAR";
    e.nameId = barId;
    putItems(e.data, top);
    out->push_back(std::move(e));
    top.clear();
    inBar = false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    std::string where = path + ":" + std::to_string(lineNo);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos || line[indent] == '#') continue;
    std::istringstream words(line.substr(indent));
    std::string kind;
    words >> kind;
    if (kind == "menubar") {
      if (indent != 0) die(where + ": menubar must not be indented");
      finish();
      unsigned long id = 0;
      if (!(words >> id) || id == 0 || id > 65535) die(where + ": expected a menu bar id");
      barId = static_cast<unsigned>(id);
      inBar = true;
      stack.assign(1, {0, &top});
      continue;
    }
    if (!inBar || indent == 0) die(where + ": item outside a menu bar");
    while (stack.size() > 1 && indent < stack.back().first) stack.pop_back();
    if (stack.back().first == 0) stack.back().first = indent;
    if (indent != stack.back().first) die(where + ": inconsistent indentation");
    MenuItem item;
    size_t pos = indent + kind.size();
    pos = line.find_first_not_of(' ', pos);
    if (kind == "separator") {
      item.flags = 2;
    } else if (kind == "key" || kind == "item" || kind == "popup") {
      if (pos == std::string::npos) die(where + ": expected a text");
      item.text = toUtf16(quoted(line, &pos, where), where);
      std::istringstream rest(line.substr(pos));
      std::string word;
      while (rest >> word) {
        if (word == "grayed")
          item.flags |= 4;
        else if (std::isdigit(static_cast<unsigned char>(word[0])))
          item.id = static_cast<uint32_t>(std::stoul(word));
        else
          die(where + ": unknown word " + word);
      }
      if (kind == "popup") item.flags |= 1;
    } else {
      die(where + ": unknown item kind " + kind);
    }
    auto* list = stack.back().second;
    list->push_back(std::move(item));
    if (list->back().flags & 1) stack.push_back({0, &list->back().children});
  }
  finish();
}

std::string literal(const std::u16string& s) {
  std::string out = "u\"";
  char buf[8];
  for (char16_t c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ' ' || c == '.') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) die("usage: olvaro-rc <output.cpp> <source>...");
  std::vector<Entry> entries;
  unsigned nextIconId = 1;
  for (int i = 2; i < argc; ++i) {
    std::string path = argv[i];
    size_t at = path.rfind('@');
    g_alias.clear();
    if (at != std::string::npos && path.find('/', at) == std::string::npos) {
      g_alias = path.substr(at + 1);
      path.resize(at);
    }
    std::string ext = path.substr(path.rfind('.') == std::string::npos ? path.size() : path.rfind('.'));
    if (ext == ".ico") {
      addIcon(path, &nextIconId, &entries);
    } else if (ext == ".wav") {
      Entry e;
      e.typeName = u"WAVE";
      nameFromStem(path, &e);
      std::string bytes = readFile(path);
      e.data.assign(bytes.begin(), bytes.end());
      entries.push_back(std::move(e));
    } else if (ext == ".strings") {
      addStrings(path, &entries);
    } else if (ext == ".menubar") {
      addMenuBars(path, &entries);
    } else {
      die("unknown kind of resource source: " + path);
    }
  }
  std::ostringstream o;
  o << "// Generated by olvaro-rc from the module's resource sources.\n"
    << "#include \"platform/resources.h\"\n\nnamespace {\n\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    o << "alignas(4) const unsigned char kData" << i << "[] = {";
    if (entries[i].data.empty()) o << "0";
    for (size_t k = 0; k < entries[i].data.size(); ++k)
      o << (k ? "," : "") << (k % 24 ? "" : "\n") << unsigned(entries[i].data[k]);
    o << "};\n";
  }
  o << "\nconst platform::ResourceEntry kEntries[] = {\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    o << "    {" << e.typeId << ", " << (e.typeName.empty() ? "nullptr" : literal(e.typeName)) << ", " << e.nameId
      << ", " << (e.name.empty() ? "nullptr" : literal(e.name)) << ", kData" << i << ", " << e.data.size() << "},\n";
  }
  if (entries.empty()) o << "    {0, nullptr, 0, nullptr, nullptr, 0},\n";
  o << "};\n\nconst platform::ResourceTable kTable{kEntries, " << entries.size() << "};\n"
    << "const platform::ResourceRegistration kRegistration(&kTable);\n\n}  // namespace\n";
  std::string text = o.str();
  // Leave an unchanged output alone so nothing rebuilds needlessly.
  std::ifstream old(argv[1], std::ios::binary);
  if (old && std::string((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>()) == text) return 0;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) die(std::string("cannot write ") + argv[1]);
  return 0;
}
