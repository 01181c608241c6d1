// Settings: variants that persist as text values of one registry key of the
// current user. Read lazily on first use, written back whole on save.
#include <cstring>

#include "hub.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace kestrum {
namespace {

const char16_t kSettingsKey[] = u"SOFTWARE\\Orvalo\\Settings";

// The stored text of a setting, if the registry has it. Values of any length
// are read whole.
bool readStored(const std::string& name, std::string* out) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::u16string valueName = platform::widen(name);
  DWORD bytes = 0;
  bool ok = false;
  if (RegQueryValueEx(key, valueName.c_str(), nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS) {
    std::u16string data((bytes + 1) / 2 + 1, u'\0');
    DWORD size = bytes;
    if (RegQueryValueEx(key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      // The value is a NUL-terminated wide text whatever its stored type.
      data.resize(std::min<size_t>(data.size(), size / 2));
      size_t end = data.find(u'\0');
      if (end != std::u16string::npos) data.resize(end);
      *out = platform::narrow(data);
      ok = true;
    }
  }
  RegCloseKey(key);
  return ok;
}

}  // namespace

fwk::counted_ptr<Setting> Data::getSetting(const char* name) {
  std::string_view key = name ? name : "";
  auto& settings = m_impl->settings;
  auto it = settings.find(key);
  if (it == settings.end())
    it = settings.emplace(std::string(key), fwk::counted_ptr<Setting>(new Setting(std::string(key)))).first;
  return it->second;
}

namespace {

// Lookup-or-create with a default and, for a new setting, the stored value.
fwk::counted_ptr<Setting> settingWithDefault(Data& data, const std::string& name, const std::string& defaultText) {
  auto& settings = data.impl().settings;
  auto it = settings.find(name);
  if (it != settings.end()) return it->second;
  fwk::counted_ptr<Setting> setting = data.getSetting(name.c_str());
  setting->setString(defaultText.c_str());
  std::string stored;
  if (!name.empty() && readStored(name, &stored)) setting->setString(stored.c_str());
  return setting;
}

}  // namespace

int Data::getSettingInt(std::string name, int defaultValue, int, int) {
  return static_cast<int>(settingWithDefault(*this, name, std::to_string(defaultValue))->getLong());
}

std::string Data::getSettingString(std::string name, std::string defaultValue) {
  return settingWithDefault(*this, name, defaultValue)->value();
}

void Data::saveSettings() {
  for (auto& [name, setting] : m_impl->settings) {
    if (name.empty()) continue;
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      continue;
    std::u16string valueName = platform::widen(name);
    std::u16string text = platform::widen(setting->value());
    RegSetValueEx(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                  static_cast<DWORD>((text.size() + 1) * 2));
    RegCloseKey(key);
  }
}

}  // namespace kestrum

using namespace kestrum;

namespace {

// Length of the longest prefix of `text` that fits `room` bytes without
// cutting a UTF-8 sequence.
size_t utf8Prefix(const std::string& text, size_t room) {
  if (text.size() <= room) return text.size();
  size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

KS_API long KS_GetSettingLong(const char* name, long defaultValue) {
  std::string key = name ? name : "";
  return settingWithDefault(hub(), key, std::to_string(defaultValue))->getLong();
}

KS_API int KS_GetSettingString(const char* name, const char* defaultValue, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::string value = hub().getSettingString(name ? name : "", defaultValue ? defaultValue : "");
  size_t n = utf8Prefix(value, size_t(size) - 1);
  memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(value.size());
}

KS_API void KS_SetSettingLong(const char* name, long value) { hub().getSetting(name)->setLong(value); }

KS_API void KS_SetSettingString(const char* name, const char* value) { hub().getSetting(name)->setString(value); }

KS_API void KS_SaveSettings() { hub().saveSettings(); }
