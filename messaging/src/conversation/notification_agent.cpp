#include "notification_agent.h"

#include <string>
#include <string_view>

#include "message_format.h"
#include "olvaro/hub_records.h"
#include "platform/device.h"
#include "platform/desktop.h"
#include "platform/phoneshell.h"
#include "platform/power.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace messaging {
namespace {

constexpr int kBeepResource = 105;
// A burst of arrivals needs no more than the vibration running and one
// waiting behind it.
constexpr size_t kMaxVibrations = 2;

std::u16string activeProfile() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, u"ControlPanel\\Profiles", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return {};
  std::u16string name;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueEx(key, u"ActiveProfile", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS && type == REG_SZ &&
      bytes >= sizeof(char16_t)) {
    std::u16string buf(bytes / sizeof(char16_t), u'\0');
    if (RegQueryValueEx(key, u"ActiveProfile", nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &bytes) ==
        ERROR_SUCCESS) {
      buf.resize(bytes / sizeof(char16_t));
      name.assign(buf.c_str());  // up to the terminator
    }
  }
  RegCloseKey(key);
  return name;
}

long overrideMode() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, u"ControlPanel\\Notifications\\ShellOverrides", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return -1;
  DWORD type = 0, value = 0, bytes = sizeof value;
  LONG rc = RegQueryValueEx(key, u"Mode", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value) return -1;
  return long(int32_t(value));
}

bool platformIsPocketPc() {
  WCHAR text[64] = {};
  if (!SystemParametersInfo(SPI_GETPLATFORMTYPE, sizeof text, text, 0)) return false;
  return text[0] == u'P';
}

// "sender" and the text's first line, for the desktop beside the device.
void noteOnDesktop(const MessageData& d) {
  if (platform::shellDesktopFocused()) return;
  Body body = messageBody("text/plain", payloadOf(d), nullptr);
  std::u16string line = body.text.substr(0, body.text.find_first_of(u"\r\n"));
  std::u16string sender = nicknameOf(d.contact);
  platform::shellDesktopNote(sender.empty() ? u"Olvaro" : sender, line);
}

}  // namespace

Announcement profileAnnouncement() {
  const std::u16string profile = activeProfile();
  if (profile == u"Meeting") return {true, false};
  if (profile == u"Silent") return {false, false};
  switch (overrideMode()) {
    case 1:
      return {true, false};
    case 2:
      return {false, false};
    default:
      return {false, true};
  }
}

NotificationAgent::NotificationAgent(PlayVoice playVoice)
    : m_playVoice(playVoice), m_usesLed(platformIsPocketPc()) {
  if (!m_usesLed) {
    m_shellLibrary = LoadLibrary(u"aygshell.dll");
    if (m_shellLibrary) {
      m_vibrateOn = reinterpret_cast<VibrateOn>(GetProcAddress(m_shellLibrary, "Vibrate"));
      m_vibrateOff = reinterpret_cast<VibrateOff>(GetProcAddress(m_shellLibrary, "VibrateStop"));
    }
  }
  m_subscription = olvaro::subscribeEvent<&NotificationAgent::announce>("messages.new.complete", this);
}

NotificationAgent::~NotificationAgent() {
  m_subscription = olvaro::EventSubscription();
  // The vibrations run this plug-in's code: they end before it may go.
  std::vector<HANDLE> threads;
  {
    std::lock_guard<std::mutex> g(m_threadsLock);
    threads.swap(m_threads);
  }
  for (HANDLE h : threads) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
  if (m_shellLibrary) FreeLibrary(m_shellLibrary);
}

void NotificationAgent::announce(HMessage* message) {
  if (!message) return;
  const MessageData d = olvaro::messageData(message);
  if (d.origin != 1) return;
  Announcement a = profileAnnouncement();
  bool sound = a.sound && KS_GetSettingLong("messaging.notifications.sound", 1) != 0;
  std::string_view type = typeOf(d);
  if (type == "text/plain") {
    if (sound) {
      HANDLE power = SetPowerRequirement(u"WAV1:", D0, POWER_NAME | POWER_FORCE, nullptr, 0);
      PlaySound(MAKEINTRESOURCE(kBeepResource), platform::currentModule(), SND_RESOURCE | SND_ASYNC);
      if (power) ReleasePowerRequirement(power);
      noteOnDesktop(d);
    }
    if (a.vibrate) startVibration();
  } else if (type.starts_with("audio/")) {
    if (sound && m_playVoice) m_playVoice(message);
    if (a.vibrate) startVibration();
  }
}

void NotificationAgent::startVibration() {
  std::lock_guard<std::mutex> g(m_threadsLock);
  // Join what has finished, so the list stays short.
  for (auto it = m_threads.begin(); it != m_threads.end();) {
    if (WaitForSingleObject(*it, 0) == WAIT_OBJECT_0) {
      CloseHandle(*it);
      it = m_threads.erase(it);
    } else {
      ++it;
    }
  }
  if (m_threads.size() >= kMaxVibrations) return;
  HANDLE h = CreateThread(nullptr, 0, &NotificationAgent::vibrationThread, this, 0, nullptr);
  if (h) m_threads.push_back(h);
}

DWORD WINAPI NotificationAgent::vibrationThread(LPVOID user) {
  auto* agent = static_cast<NotificationAgent*>(user);
  KS_AudioLock();
  agent->signal(true);
  Sleep(100);
  agent->signal(false);
  Sleep(100);
  agent->signal(true);
  Sleep(100);
  agent->signal(false);
  KS_AudioUnlock();
  return 0;
}

void NotificationAgent::signal(bool on) {
  if (m_usesLed) {
    NLED_SETTINGS_INFO led{};
    led.LedNum = 1;
    led.OffOnBlink = on ? 1 : 0;
    NLedSetDevice(NLED_SETTINGS_INFO_ID, &led);
  } else if (m_vibrateOn && m_vibrateOff) {
    if (on)
      m_vibrateOn(0, nullptr, TRUE, INFINITE);
    else
      m_vibrateOff();
  }
}

}  // namespace messaging
