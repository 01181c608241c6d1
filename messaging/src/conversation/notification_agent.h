// Announcing a live message once it has arrived whole: a beep or the voice
// message itself, and/or a short vibration, as the phone's sound profile and
// the user's "messaging.notifications.sound" setting say.
#pragma once

#include <mutex>
#include <vector>

#include "olvaro/api.h"
#include "olvaro/registrations.h"
#include "platform/module.h"
#include "platform/thread.h"

namespace messaging {

// What the profile allows for one arrival.
struct Announcement {
  bool vibrate = false;
  bool sound = false;
};

// The phone's profile rule: "ActiveProfile" from ControlPanel\Profiles and
// "Mode" from ControlPanel\Notifications\ShellOverrides (current user).
Announcement profileAnnouncement();

class NotificationAgent {
 public:
  // `playVoice` plays an audio message in its conversation's turn; the
  // caller may release it at once (the conversations' voice player).
  using PlayVoice = void (*)(HMessage* message);
  explicit NotificationAgent(PlayVoice playVoice);
  // Unsubscribes, waits for vibrations still running, frees the shell.
  ~NotificationAgent();
  NotificationAgent(const NotificationAgent&) = delete;
  NotificationAgent& operator=(const NotificationAgent&) = delete;

  // The event's work for one complete message.
  void announce(HMessage* message);
  bool usesLed() const { return m_usesLed; }

 private:
  using VibrateOn = HRESULT (*)(DWORD count, const void* notes, BOOL repeat, DWORD timeoutMs);
  using VibrateOff = HRESULT (*)();
  static DWORD WINAPI vibrationThread(LPVOID agent);
  void startVibration();
  void signal(bool on);

  olvaro::EventSubscription m_subscription;
  PlayVoice m_playVoice;
  bool m_usesLed = false;
  HMODULE m_shellLibrary = nullptr;
  VibrateOn m_vibrateOn = nullptr;
  VibrateOff m_vibrateOff = nullptr;
  std::mutex m_threadsLock;
  std::vector<HANDLE> m_threads;  // vibrations not yet joined
};

}  // namespace messaging
