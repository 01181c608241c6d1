// The item lives under a name of its own, org.kde.StatusNotifierItem-PID-N,
// which it hands to the watcher; the watcher drops the item when the name
// goes, so taking the item away is letting go of the name. Each showing
// takes a new N, so a late release of the old name cannot take the new one.
#ifdef OLVARO_HAVE_GIO

#include "desktop_tray.h"

#include <gio/gio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace platform {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/><arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/><arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/><arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/><arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/><arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/><arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/><arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/><arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/><arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/><arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated"><arg type="u" name="revision"/><arg type="i" name="parent"/></signal>
  </interface>
</node>)xml";

// The menu: a root (0) holding Open and Exit.
enum MenuId { kRoot = 0, kOpen = 1, kExit = 2 };

// The entries' words are the program's, in its language.
const std::u16string* labelOf(int id, const DesktopTrayItem& item) {
  return id == kOpen ? &item.openLabel : id == kExit ? &item.exitLabel : nullptr;
}

bool wanted(GVariant* names, const char* name) {
  if (g_variant_n_children(names) == 0) return true;
  const gchar* n = nullptr;
  GVariantIter it;
  g_variant_iter_init(&it, names);
  while (g_variant_iter_next(&it, "&s", &n))
    if (std::string(n) == name) return true;
  return false;
}

GVariant* menuProperties(int id, GVariant* names, const DesktopTrayItem& item) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  if (id == kRoot) {
    if (wanted(names, "children-display"))
      g_variant_builder_add(&b, "{sv}", "children-display", g_variant_new_string("submenu"));
  } else {
    if (wanted(names, "label"))
      g_variant_builder_add(&b, "{sv}", "label", g_variant_new_string(narrow(*labelOf(id, item)).c_str()));
    if (wanted(names, "enabled")) g_variant_builder_add(&b, "{sv}", "enabled", g_variant_new_boolean(TRUE));
    if (wanted(names, "visible")) g_variant_builder_add(&b, "{sv}", "visible", g_variant_new_boolean(TRUE));
  }
  return g_variant_builder_end(&b);
}

GVariant* menuLayout(int id, int depth, GVariant* names, const DesktopTrayItem& item) {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (id == kRoot && depth != 0)
    for (int child : {kOpen, kExit}) g_variant_builder_add(&children, "v", menuLayout(child, depth - 1, names, item));
  return g_variant_new("(i@a{sv}av)", id, menuProperties(id, names, item), &children);
}

bool knownItem(int id) { return id == kRoot || id == kOpen || id == kExit; }

GVariant* pixmaps(const DesktopPixmap& p) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
  if (p.width > 0 && p.argb.size() == size_t(p.width) * size_t(p.height) * 4) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, p.argb.data(), p.argb.size(), 1);
    g_variant_builder_add(&b, "(ii@ay)", p.width, p.height, bytes);
  }
  return g_variant_builder_end(&b);
}

}  // namespace

struct DesktopTray::State {
  std::function<void(const DesktopTrayItem&)> activate;
  std::function<void()> exit;
  GMainContext* context = g_main_context_new();
  GCancellable* cancel = g_cancellable_new();
  GDBusConnection* bus = nullptr;
  bool noBus = false;
  GDBusNodeInfo* info = nullptr;
  guint watchId = 0;
  bool watcher = false;

  bool wantedNow = false;
  DesktopTrayItem item;
  guint itemObject = 0, menuObject = 0, ownId = 0;
  std::string name;
  int serial = 0;
  guint32 layoutRevision = 1;  // one more each time the menu's words change

  ~State() {
    g_cancellable_cancel(cancel);
    if (bus) {
      unregister();
      if (watchId) g_bus_unwatch_name(watchId);
    }
    while (g_main_context_iteration(context, FALSE)) {
    }
    if (bus) g_object_unref(bus);
    if (info) g_dbus_node_info_unref(info);
    g_object_unref(cancel);
    g_main_context_unref(context);
  }

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
    info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    if (!bus || !info) {
      g_clear_error(&error);
      noBus = true;
      return false;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    onOurContext([&] {
      watchId = g_bus_watch_name_on_connection(bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, &State::appeared,
                                               &State::vanished, this, nullptr);
    });
    return true;
  }

  static void appeared(GDBusConnection*, const gchar*, const gchar*, gpointer user) {
    auto* self = static_cast<State*>(user);
    self->watcher = true;
    // A watcher that (re)started learns of an item already there.
    if (self->ownId) self->announce();
    self->update();
  }

  static void vanished(GDBusConnection*, const gchar*, gpointer user) {
    auto* self = static_cast<State*>(user);
    self->watcher = false;
    self->update();
  }

  void update() {
    if (wantedNow && watcher) {
      if (!ownId) publish();
    } else {
      unregister();
    }
  }

  void publish() {
    static const GDBusInterfaceVTable vtable = {&State::method, &State::property, nullptr, {}};
    onOurContext([&] {
      itemObject =
          g_dbus_connection_register_object(bus, kItemPath, info->interfaces[0], &vtable, this, nullptr, nullptr);
      menuObject =
          g_dbus_connection_register_object(bus, kMenuPath, info->interfaces[1], &vtable, this, nullptr, nullptr);
      name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
      ownId = g_bus_own_name_on_connection(bus, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, &State::acquired, nullptr,
                                           this, nullptr);
    });
  }

  static void acquired(GDBusConnection*, const gchar*, gpointer user) { static_cast<State*>(user)->announce(); }

  void announce() {
    onOurContext([&] {
      g_dbus_connection_call(bus, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
                             g_variant_new("(s)", name.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, cancel,
                             &State::ignored, nullptr);
    });
  }

  static void ignored(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error))
      g_variant_unref(reply);
    g_clear_error(&error);
  }

  void unregister() {
    if (ownId) g_bus_unown_name(ownId);
    if (itemObject) g_dbus_connection_unregister_object(bus, itemObject);
    if (menuObject) g_dbus_connection_unregister_object(bus, menuObject);
    ownId = itemObject = menuObject = 0;
  }

  void emit(const char* signal, GVariant* args = nullptr) {
    if (!itemObject) {
      if (args) g_variant_unref(g_variant_ref_sink(args));
      return;
    }
    g_dbus_connection_emit_signal(bus, nullptr, kItemPath, kItemInterface, signal, args, nullptr);
  }

  const char* status() const { return item.attention ? "NeedsAttention" : "Active"; }

  void show(const DesktopTrayItem& next) {
    if (!connect()) return;
    DesktopTrayItem was = std::move(item);
    bool fresh = !wantedNow;
    item = next;
    wantedNow = true;
    if (!fresh) {
      if (was.title != item.title) emit("NewTitle");
      if (!(was.icon == item.icon)) emit("NewIcon");
      if (!(was.attentionIcon == item.attentionIcon)) emit("NewAttentionIcon");
      if (was.attention != item.attention) emit("NewStatus", g_variant_new("(s)", status()));
      if (was.openLabel != item.openLabel || was.exitLabel != item.exitLabel) {
        ++layoutRevision;
        if (menuObject)
          g_dbus_connection_emit_signal(bus, nullptr, kMenuPath, kMenuInterface, "LayoutUpdated",
                                        g_variant_new("(ui)", layoutRevision, kRoot), nullptr);
      }
    }
    update();
  }

  void hide() {
    wantedNow = false;
    if (bus) update();
  }

  static GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* name,
                            GError** error, gpointer user) {
    auto* self = static_cast<State*>(user);
    const DesktopTrayItem& item = self->item;
    std::string p = name;
    if (std::string(interface) == kMenuInterface) {
      if (p == "Version") return g_variant_new_uint32(3);
      if (p == "TextDirection") return g_variant_new_string("ltr");
      if (p == "Status") return g_variant_new_string("normal");
      if (p == "IconThemePath") return g_variant_new_strv(nullptr, 0);
    } else {
      if (p == "Category") return g_variant_new_string("Communications");
      if (p == "Id") return g_variant_new_string("olvaro");
      if (p == "Title") return g_variant_new_string(narrow(item.title).c_str());
      if (p == "Status") return g_variant_new_string(self->status());
      if (p == "WindowId") return g_variant_new_int32(0);
      if (p == "IconName" || p == "AttentionIconName") return g_variant_new_string("");
      if (p == "IconPixmap") return pixmaps(item.icon);
      if (p == "AttentionIconPixmap") return pixmaps(item.attentionIcon);
      if (p == "ToolTip")
        return g_variant_new("(s@a(iiay)ss)", "", pixmaps(DesktopPixmap{}), narrow(item.title).c_str(), "");
      if (p == "ItemIsMenu") return g_variant_new_boolean(FALSE);
      if (p == "Menu") return g_variant_new_object_path(kMenuPath);
    }
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
    return nullptr;
  }

  static void method(GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* name,
                     GVariant* args, GDBusMethodInvocation* call, gpointer user) {
    auto* self = static_cast<State*>(user);
    std::string m = name;
    if (std::string(interface) == kItemInterface) {
      // A click, and (middle button) the lesser click: both open the
      // program, as a tap on the icon does.
      g_dbus_method_invocation_return_value(call, nullptr);
      self->clicked(kOpen);
      return;
    }
    if (m == "GetLayout") {
      gint32 parent = 0, depth = 0;
      GVariant* names = nullptr;
      g_variant_get(args, "(ii@as)", &parent, &depth, &names);
      if (knownItem(parent))
        g_dbus_method_invocation_return_value(call,
                                              g_variant_new("(u@(ia{sv}av))", self->layoutRevision,
                                                            menuLayout(parent, depth, names, self->item)));
      else
        g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.DBus.Error.InvalidArgs", "no such item");
      g_variant_unref(names);
    } else if (m == "GetGroupProperties") {
      GVariant *ids = nullptr, *names = nullptr;
      g_variant_get(args, "(@ai@as)", &ids, &names);
      GVariantBuilder b;
      g_variant_builder_init(&b, G_VARIANT_TYPE("a(ia{sv})"));
      gint32 id = 0;
      GVariantIter it;
      g_variant_iter_init(&it, ids);
      while (g_variant_iter_next(&it, "i", &id))
        if (knownItem(id)) g_variant_builder_add(&b, "(i@a{sv})", id, menuProperties(id, names, self->item));
      g_dbus_method_invocation_return_value(call, g_variant_new("(a(ia{sv}))", &b));
      g_variant_unref(ids);
      g_variant_unref(names);
    } else if (m == "GetProperty") {
      gint32 id = 0;
      const gchar* prop = nullptr;
      g_variant_get(args, "(i&s)", &id, &prop);
      GVariant* all = g_variant_ref_sink(g_variant_new_strv(nullptr, 0));
      GVariant* props = knownItem(id) ? g_variant_ref_sink(menuProperties(id, all, self->item)) : nullptr;
      g_variant_unref(all);
      GVariant* value = props ? g_variant_lookup_value(props, prop, nullptr) : nullptr;
      if (value)
        g_dbus_method_invocation_return_value(call, g_variant_new("(v)", value));
      else
        g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.DBus.Error.InvalidArgs", "no such property");
      if (value) g_variant_unref(value);
      if (props) g_variant_unref(props);
    } else if (m == "Event") {
      gint32 id = 0;
      const gchar* event = nullptr;
      g_variant_get(args, "(i&svu)", &id, &event, nullptr, nullptr);
      std::string e = event;
      g_dbus_method_invocation_return_value(call, nullptr);
      if (e == "clicked") self->clicked(id);
    } else if (m == "EventGroup") {
      GVariantIter* events = nullptr;
      g_variant_get(args, "(a(isvu))", &events);
      GVariantBuilder errors;
      g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
      std::vector<int> clicks;
      gint32 id = 0;
      const gchar* event = nullptr;
      GVariant* data = nullptr;
      guint32 when = 0;
      while (g_variant_iter_next(events, "(i&svu)", &id, &event, &data, &when)) {
        if (!knownItem(id))
          g_variant_builder_add(&errors, "i", id);
        else if (std::string(event) == "clicked")
          clicks.push_back(id);
        g_variant_unref(data);
      }
      g_variant_iter_free(events);
      g_dbus_method_invocation_return_value(call, g_variant_new("(ai)", &errors));
      for (int c : clicks) self->clicked(c);
    } else if (m == "AboutToShow") {
      g_dbus_method_invocation_return_value(call, g_variant_new("(b)", FALSE));
    } else if (m == "AboutToShowGroup") {
      g_dbus_method_invocation_return_value(
          call, g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                              g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
    } else {
      g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.DBus.Error.UnknownMethod", name);
    }
  }

  void clicked(int id) {
    if (!wantedNow) return;
    if (id == kOpen && activate) activate(item);
    if (id == kExit && exit) exit();
  }
};

DesktopTray::DesktopTray(std::function<void(const DesktopTrayItem&)> activate, std::function<void()> exit)
    : s_(std::make_unique<State>()) {
  s_->activate = std::move(activate);
  s_->exit = std::move(exit);
}

DesktopTray::~DesktopTray() = default;

void DesktopTray::show(const DesktopTrayItem& item) { s_->show(item); }

void DesktopTray::hide() { s_->hide(); }

void DesktopTray::pump() {
  for (int i = 0; i < 64 && g_main_context_iteration(s_->context, FALSE); ++i) {
  }
}

}  // namespace platform

#endif  // OLVARO_HAVE_GIO
