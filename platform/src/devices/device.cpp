#include "platform/device.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ascii.h"
#include "platform/text.h"

namespace platform {

DeviceInfo deviceInfo() {
  DeviceInfo d;
  const char* p = std::getenv("OLVARO_PLATFORM");
  d.platformType = p && asciiEqualNoCase(p, "SmartPhone") ? u"SmartPhone" : u"PocketPC";
  if (const char* s = std::getenv("OLVARO_SCREEN")) {
    int w = 0, h = 0;
    if (std::sscanf(s, "%dx%d", &w, &h) == 2 && w >= 16 && h >= 16 && w <= 4096 && h <= 4096) {
      d.screenWidth = w;
      d.screenHeight = h;
    }
  }
  if (const char* s = std::getenv("OLVARO_DPI")) {
    int dpi = std::atoi(s);
    if (dpi >= 48 && dpi <= 600) d.dpi = dpi;
  }
  if (const char* op = std::getenv("OLVARO_OPERATOR")) d.operatorName = widen(op);
  return d;
}

}  // namespace platform

LANGID GetUserDefaultUILanguage() {
  if (const char* id = std::getenv("OLVARO_LANGID")) {
    unsigned v = 0;
    if (std::sscanf(id, "%x", &v) == 1 && v > 0 && v <= 0xFFFF) return static_cast<LANGID>(v);
  }
  static const struct {
    const char* prefix;
    LANGID id;
  } kLanguages[] = {{"en_GB", 0x0809}, {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A},
                    {"it", 0x0410},    {"nl", 0x0413}, {"pt_BR", 0x0416}, {"pt", 0x0816}, {"pl", 0x0415},
                    {"ru", 0x0419},    {"sv", 0x041D}, {"ja", 0x0411}, {"zh_TW", 0x0404}, {"zh", 0x0804}};
  const char* lang = std::getenv("LC_ALL");
  if (!lang || !*lang) lang = std::getenv("LC_MESSAGES");
  if (!lang || !*lang) lang = std::getenv("LANG");
  if (lang)
    for (const auto& l : kLanguages)
      if (std::strncmp(lang, l.prefix, std::strlen(l.prefix)) == 0) return l.id;
  return 0x0409;
}
