#include "testkit/tray_watcher.h"

#ifdef OLVARO_HAVE_GIO

#include <gio/gio.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace testkit {
namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface>
</node>)xml";

}  // namespace

struct TrayWatcher::State {
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  std::thread thread;
  mutable std::mutex m;
  bool owned = false;
  struct Item {
    std::string name, path;
  };
  std::vector<Item> items;  // in the order registered; gone ones removed
  std::vector<guint> watches;

  ~State() {
    if (thread.joinable()) {
      g_main_context_invoke(
          context,
          [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
          },
          loop);
      thread.join();
    }
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    if (info) g_dbus_node_info_unref(info);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }

  void run() {
    g_main_context_push_thread_default(context);
    static const GDBusInterfaceVTable vtable = {&State::method, &State::property, nullptr, {}};
    guint object = g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", info->interfaces[0], &vtable, this,
                                                     nullptr, nullptr);
    guint own = g_bus_own_name_on_connection(
        bus, kWatcher, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer user) {
          auto* self = static_cast<State*>(user);
          std::lock_guard<std::mutex> g(self->m);
          self->owned = true;
        },
        nullptr, this, nullptr);
    g_main_loop_run(loop);
    g_bus_unown_name(own);
    for (guint w : watches) g_bus_unwatch_name(w);
    g_dbus_connection_unregister_object(bus, object);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
  }

  static void method(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* name,
                     GVariant* args, GDBusMethodInvocation* call, gpointer user) {
    auto* self = static_cast<State*>(user);
    const gchar* service = nullptr;
    g_variant_get(args, "(&s)", &service);
    if (std::string(name) == "RegisterStatusNotifierItem") {
      // A path alone means the caller's own connection.
      Item item = service[0] == '/' ? Item{sender, service} : Item{service, "/StatusNotifierItem"};
      {
        std::lock_guard<std::mutex> g(self->m);
        self->items.push_back(item);
      }
      self->watches.push_back(g_bus_watch_name_on_connection(
          self->bus, item.name.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
          [](GDBusConnection*, const gchar* gone, gpointer user) {
            auto* self = static_cast<State*>(user);
            std::lock_guard<std::mutex> g(self->m);
            std::erase_if(self->items, [&](const Item& i) { return i.name == gone; });
          },
          self, nullptr));
    }
    g_dbus_method_invocation_return_value(call, nullptr);
  }

  static GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                            gpointer user) {
    auto* self = static_cast<State*>(user);
    std::string p = name;
    if (p == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
    if (p == "ProtocolVersion") return g_variant_new_int32(0);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
    std::lock_guard<std::mutex> g(self->m);
    for (const Item& i : self->items) g_variant_builder_add(&b, "s", (i.name + i.path).c_str());
    return g_variant_builder_end(&b);
  }

  bool current(Item* out) const {
    std::lock_guard<std::mutex> g(m);
    if (items.empty()) return false;
    *out = items.back();
    return true;
  }

  // The reply, or null with the error's text.
  GVariant* callItem(const std::string& path, const std::string& interface, const std::string& method, GVariant* args,
                     std::string* error) const {
    Item item;
    if (!current(&item)) {
      *error = "no item";
      if (args) g_variant_unref(g_variant_ref_sink(args));
      return nullptr;
    }
    GError* e = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, item.name.c_str(), path.empty() ? item.path.c_str() : path.c_str(), interface.c_str(), method.c_str(),
        args, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &e);
    if (!reply) {
      *error = e ? e->message : "no reply";
      g_clear_error(&e);
    }
    return reply;
  }

  GVariant* get(const std::string& name, std::string* error) const {
    GVariant* reply = callItem("", "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", kItemInterface, name.c_str()), error);
    if (!reply) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    return value;
  }
};

TrayWatcher::TrayWatcher() = default;
TrayWatcher::~TrayWatcher() = default;

void TrayWatcher::stop() { s_.reset(); }

bool TrayWatcher::start(const std::string& busAddress, std::string* why) {
  s_ = std::make_unique<State>();
  GError* e = nullptr;
  s_->bus = g_dbus_connection_new_for_address_sync(busAddress.c_str(),
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, &e);
  if (!s_->bus) {
    *why = std::string("the tray watcher cannot reach the bus: ") + (e ? e->message : "");
    g_clear_error(&e);
    return false;
  }
  g_dbus_connection_set_exit_on_close(s_->bus, FALSE);
  State* s = s_.get();
  s_->thread = std::thread([s] { s->run(); });
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard<std::mutex> g(s_->m);
      if (s_->owned) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *why = "the tray watcher did not get its name";
  return false;
}

std::string TrayWatcher::item() const {
  State::Item i;
  return s_ && s_->current(&i) ? i.name : "";
}

std::string TrayWatcher::call(const std::string& path, const std::string& interface, const std::string& method,
                              const std::string& args) const {
  if (!s_) return "error: no watcher";
  GError* e = nullptr;
  GVariant* parsed = g_variant_parse(nullptr, args.c_str(), nullptr, nullptr, &e);
  if (!parsed) {
    std::string out = std::string("error: ") + e->message;
    g_clear_error(&e);
    return out;
  }
  std::string error;
  GVariant* reply = s_->callItem(path, interface, method, parsed, &error);
  if (!reply) return "error: " + error;
  gchar* text = g_variant_print(reply, FALSE);
  std::string out = text;
  g_free(text);
  g_variant_unref(reply);
  return out;
}

std::string TrayWatcher::property(const std::string& name) const {
  if (!s_) return "error: no watcher";
  std::string error;
  GVariant* value = s_->get(name, &error);
  if (!value) return "error: " + error;
  std::string out;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    out = g_variant_get_string(value, nullptr);
  } else {
    gchar* text = g_variant_print(value, TRUE);
    out = text;
    g_free(text);
  }
  g_variant_unref(value);
  return out;
}

bool TrayWatcher::pixmap(const std::string& name, int* width, int* height, std::vector<uint8_t>* argb) const {
  if (!s_) return false;
  std::string error;
  GVariant* value = s_->get(name, &error);
  if (!value) return false;
  bool found = false;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE("a(iiay)")) && g_variant_n_children(value) > 0) {
    GVariant* bytes = nullptr;
    g_variant_get_child(value, 0, "(ii@ay)", width, height, &bytes);
    gsize n = 0;
    auto* data = static_cast<const uint8_t*>(g_variant_get_fixed_array(bytes, &n, 1));
    argb->assign(data, data + n);
    g_variant_unref(bytes);
    found = true;
  }
  g_variant_unref(value);
  return found;
}

}  // namespace testkit

#else  // without GIO there is no bus to host a tray on

namespace testkit {
struct TrayWatcher::State {};
TrayWatcher::TrayWatcher() = default;
TrayWatcher::~TrayWatcher() = default;
void TrayWatcher::stop() {}
bool TrayWatcher::start(const std::string&, std::string* why) {
  *why = "built without GIO";
  return false;
}
std::string TrayWatcher::item() const { return ""; }
std::string TrayWatcher::call(const std::string&, const std::string&, const std::string&, const std::string&) const {
  return "error: built without GIO";
}
std::string TrayWatcher::property(const std::string&) const { return "error: built without GIO"; }
bool TrayWatcher::pixmap(const std::string&, int*, int*, std::vector<uint8_t>*) const { return false; }
}  // namespace testkit

#endif
