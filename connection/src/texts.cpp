#include "texts.h"

#include "platform/module.h"
#include "platform/text.h"
#include "platform/resources.h"

namespace olvaro::conn {
namespace {
char g_moduleMarker;
}

std::string loadText(unsigned id) {
  LPCWSTR text = nullptr;
  int length = LoadString(platform::moduleOfAddress(&g_moduleMarker), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length > 0 && text) return platform::narrow(std::u16string_view(text, size_t(length)));
  switch (id) {
    case kStrLoginRefused:
      return "The server did not allow you to sign in at this time.";
    case kStrLoginFailed:
      return "Login Failed";
  }
  return std::string();
}

}  // namespace olvaro::conn
