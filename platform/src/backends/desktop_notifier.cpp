// One note at a time on the desktop: a later one replaces the earlier
// (replaces_id) instead of stacking beside it. The service's answer to
// Notify carries the note's id; until it comes, a close is remembered and
// done with the answer.
#ifdef OLVARO_HAVE_GIO

#include "desktop_notifier.h"

#include <gio/gio.h>

#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/window.h"

namespace platform {
namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr guint32 kClosedByUser = 2;
// A service that did not answer is asked again after this long.
constexpr gint64 kRetryUs = 30 * G_USEC_PER_SEC;

}  // namespace

struct DesktopNotifier::State {
  std::function<void()> opened;
  GMainContext* context = g_main_context_new();
  GCancellable* cancel = g_cancellable_new();
  GDBusConnection* bus = nullptr;
  bool noBus = false;
  guint actionSignal = 0, closedSignal = 0;

  enum class Service { Unknown, Asking, Present, Absent } service = Service::Unknown;
  gint64 absentSince = 0;
  bool actions = false, bodyMarkup = false;

  struct Shown {
    uint64_t key = 0;
    DesktopNote note;
    guint32 id = 0;  // 0 until the service answered
    uint64_t serial = 0;
    bool closeWanted = false;
    bool acted = false;  // an action was chosen: a close that follows is no dismissal
  };
  std::optional<Shown> shown;
  std::optional<std::pair<uint64_t, DesktopNote>> waiting;  // until the service's features are known
  uint64_t serial = 0;

  ~State() {
    g_cancellable_cancel(cancel);
    // Let the cancelled calls finish so their data is freed.
    while (g_main_context_iteration(context, FALSE)) {
    }
    if (bus) {
      if (actionSignal) g_dbus_connection_signal_unsubscribe(bus, actionSignal);
      if (closedSignal) g_dbus_connection_signal_unsubscribe(bus, closedSignal);
      g_object_unref(bus);
    }
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_object_unref(cancel);
    g_main_context_unref(context);
  }

  // Calls and subscriptions deliver to the context that is the thread's
  // default when they are made.
  template <class F>
  void onOurContext(F f) {
    g_main_context_push_thread_default(context);
    f();
    g_main_context_pop_thread_default(context);
  }

  bool connect() {
    if (bus) return true;
    if (noBus) return false;
    GError* error = nullptr;
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
      g_clear_error(&error);
      noBus = true;
      return false;
    }
    // The bus going away is no reason for the program to end.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    onOurContext([&] {
      actionSignal = g_dbus_connection_signal_subscribe(bus, kName, kInterface, "ActionInvoked", kPath, nullptr,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, &State::signal, this, nullptr);
      closedSignal = g_dbus_connection_signal_subscribe(bus, kName, kInterface, "NotificationClosed", kPath, nullptr,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, &State::signal, this, nullptr);
    });
    return true;
  }

  void askFeatures() {
    service = Service::Asking;
    onOurContext([&] {
      g_dbus_connection_call(bus, kName, kPath, kInterface, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
                             G_DBUS_CALL_FLAGS_NONE, 5000, cancel, &State::features, this);
    });
  }

  static void features(GObject* source, GAsyncResult* result, gpointer user) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
      g_clear_error(&error);
      if (cancelled) return;
      auto* self = static_cast<State*>(user);
      self->service = Service::Absent;
      self->absentSince = g_get_monotonic_time();
      self->waiting.reset();
      return;
    }
    auto* self = static_cast<State*>(user);
    GVariantIter* iter = nullptr;
    const gchar* cap = nullptr;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_loop(iter, "&s", &cap)) {
      std::string c = cap;
      if (c == "actions") self->actions = true;
      if (c == "body-markup") self->bodyMarkup = true;
    }
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    self->service = Service::Present;
    if (self->waiting) {
      auto [key, note] = std::move(*self->waiting);
      self->waiting.reset();
      self->send(key, note);
    }
  }

  void show(uint64_t key, const DesktopNote& note) {
    if (!connect()) return;
    if (service == Service::Absent && g_get_monotonic_time() - absentSince >= kRetryUs) service = Service::Unknown;
    switch (service) {
      case Service::Absent:
        return;
      case Service::Unknown:
        waiting.emplace(key, note);
        askFeatures();
        return;
      case Service::Asking:
        waiting.emplace(key, note);
        return;
      case Service::Present:
        send(key, note);
        return;
    }
  }

  std::string bodyOf(const DesktopNote& note) const {
    std::string body = narrow(note.body);
    if (!bodyMarkup) return body;
    gchar* escaped = g_markup_escape_text(body.c_str(), -1);
    std::string out = escaped;
    g_free(escaped);
    return out;
  }

  void send(uint64_t key, const DesktopNote& note) {
    guint32 replaces = shown && !shown->closeWanted ? shown->id : 0;
    GVariantBuilder actionList;
    g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
    if (actions && !note.buttons.empty()) {
      // Clicking the note itself does what its first button does.
      g_variant_builder_add(&actionList, "s", "default");
      g_variant_builder_add(&actionList, "s", narrow(note.buttons.front().first).c_str());
      for (const auto& [label, command] : note.buttons) {
        g_variant_builder_add(&actionList, "s", ("cmd:" + std::to_string(command)).c_str());
        g_variant_builder_add(&actionList, "s", narrow(label).c_str());
      }
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("olvaro"));
    g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("im.received"));
    GVariant* args = g_variant_new("(susssasa{sv}i)", "Olvaro", replaces, "olvaro", narrow(note.summary).c_str(),
                                   bodyOf(note).c_str(), &actionList, &hints, -1);
    // A note still waiting for its id is closed when the id comes (below).
    Shown next;
    next.key = key;
    next.note = note;
    next.id = replaces;
    next.serial = ++serial;
    shown = std::move(next);
    auto* call = new std::pair<State*, uint64_t>(this, serial);
    onOurContext([&] {
      g_dbus_connection_call(bus, kName, kPath, kInterface, "Notify", args, G_VARIANT_TYPE("(u)"),
                             G_DBUS_CALL_FLAGS_NONE, 5000, cancel, &State::notified, call);
    });
  }

  static void notified(GObject* source, GAsyncResult* result, gpointer user) {
    std::unique_ptr<std::pair<State*, uint64_t>> call(static_cast<std::pair<State*, uint64_t>*>(user));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
      g_clear_error(&error);
      if (cancelled) return;
      State* self = call->first;
      if (self->shown && self->shown->serial == call->second) self->shown.reset();
      return;
    }
    State* self = call->first;
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    if (self->shown && self->shown->serial == call->second) {
      self->shown->id = id;
      if (self->shown->closeWanted) {
        self->closeId(id);
        self->shown.reset();
      }
    } else if (!self->shown || self->shown->id != id) {
      self->closeId(id);  // replaced before its id came, so it was not replaced there
    }
  }

  void closeId(guint32 id) {
    if (!bus || !id) return;
    onOurContext([&] {
      g_dbus_connection_call(bus, kName, kPath, kInterface, "CloseNotification", g_variant_new("(u)", id), nullptr,
                             G_DBUS_CALL_FLAGS_NONE, 5000, cancel, &State::ignored, nullptr);
    });
  }

  static void ignored(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error))
      g_variant_unref(reply);
    g_clear_error(&error);
  }

  void close(uint64_t key) {
    if (waiting && waiting->first == key) waiting.reset();
    if (!shown || shown->key != key) return;
    if (shown->id) {
      closeId(shown->id);
      shown.reset();
    } else {
      shown->closeWanted = true;
    }
  }

  static void signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                     GVariant* parameters, gpointer user) {
    auto* self = static_cast<State*>(user);
    std::string member = name;
    if (member == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
      guint32 id = 0;
      const gchar* action = nullptr;
      g_variant_get(parameters, "(u&s)", &id, &action);
      self->invoked(id, action);
    } else if (member == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
      guint32 id = 0, reason = 0;
      g_variant_get(parameters, "(uu)", &id, &reason);
      self->closed(id, reason);
    }
  }

  void invoked(guint32 id, const std::string& action) {
    if (!shown || !id || shown->id != id || shown->note.buttons.empty()) return;
    const DesktopNote& note = shown->note;
    int command = 0;
    if (action == "default") command = note.buttons.front().second;
    for (const auto& [label, c] : note.buttons)
      if (action == "cmd:" + std::to_string(c)) command = c;
    if (!command) return;
    shown->acted = true;
    HWND sink = note.sink;
    bool opens = command == note.buttons.front().second;
    // As a tap on the bubble's button sends it.
    if (sink && IsWindow(sink)) PostMessage(sink, WM_COMMAND, MAKEWPARAM(WORD(command), 0), 0);
    if (opens && opened) opened();
  }

  void closed(guint32 id, guint32 reason) {
    if (!shown || !id || shown->id != id) return;
    Shown was = std::move(*shown);
    shown.reset();
    if (reason != kClosedByUser || was.acted || !was.note.dismissCommand) return;
    if (was.note.sink && IsWindow(was.note.sink))
      PostMessage(was.note.sink, WM_COMMAND, MAKEWPARAM(WORD(was.note.dismissCommand), 0), 0);
  }
};

DesktopNotifier::DesktopNotifier(std::function<void()> opened) : s_(std::make_unique<State>()) {
  s_->opened = std::move(opened);
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(uint64_t key, const DesktopNote& note) { s_->show(key, note); }

void DesktopNotifier::close(uint64_t key) { s_->close(key); }

void DesktopNotifier::pump() {
  // Bounded: a flood from the bus waits for the next poll.
  for (int i = 0; i < 64 && g_main_context_iteration(s_->context, FALSE); ++i) {
  }
}

}  // namespace platform

#endif  // OLVARO_HAVE_GIO
