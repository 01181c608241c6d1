#include "ui_texts.h"

#include "platform/resources.h"
#include "platform/text.h"

namespace olvaro::conn {

unsigned presenceTextId(int32_t presence) {
  switch (presence) {
    case 0:
      return kStrOffline;
    case 1:
      return kStrOnline;
    case 2:
      return kStrAway;
    case 3:
      return kStrInvisible;
    case 5:
      return kStrBusy;
    default:
      return 0;
  }
}

std::u16string loadWideText(unsigned id) { return platform::loadStringWide(platform::currentModule(), id); }

std::u16string widen(const char* utf8) { return utf8 ? platform::widen(utf8) : std::u16string(); }

}  // namespace olvaro::conn
