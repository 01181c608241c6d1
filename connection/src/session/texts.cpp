#include "texts.h"

#include "platform/module.h"
#include "platform/resources.h"

namespace olvaro::conn {
namespace {
char g_moduleMarker;
}

std::string loadText(unsigned id) { return platform::loadStringUtf8(platform::moduleOfAddress(&g_moduleMarker), id); }

}  // namespace olvaro::conn
