// The server on a desktop: its tray icon as a StatusNotifierItem, registered with a watcher of
// the test's own on a private session bus, its menu over dbusmenu, and its boxes as windows on
// an X display. Run under `xvfb-run -a dbus-run-session --` (tests/run-on-desktop does); skipped
// without a display, a session bus or xdotool.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e_environment.h"
#include "tests/test_client.h"

namespace tests {
namespace {

constexpr char kWatcherXml[] =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "</interface></node>";

// Watcher is a StatusNotifierWatcher that records the item registered with it.
struct Watcher {
  GDBusConnection* bus = nullptr;
  std::string service, path;  // the item's bus name and object path

  static void Call(GDBusConnection*, const char* sender, const char*, const char*,
                   const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                   gpointer self) {
    if (std::string(method) == "RegisterStatusNotifierItem") {
      const char* argument = nullptr;
      g_variant_get(parameters, "(&s)", &argument);
      auto* watcher = static_cast<Watcher*>(self);
      watcher->service = sender;
      watcher->path = argument[0] == '/' ? argument : "/StatusNotifierItem";
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }
  static GVariant* Property(GDBusConnection*, const char*, const char*, const char*,
                            const char* name, GError**, gpointer self) {
    const std::string property = name;
    if (property == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
    if (property == "ProtocolVersion") return g_variant_new_int32(0);
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    const std::string& item = static_cast<Watcher*>(self)->service;
    if (!item.empty()) g_variant_builder_add(&items, "s", item.c_str());
    return g_variant_builder_end(&items);
  }

  bool Start() {
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return false;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
    static const GDBusInterfaceVTable vtable = {Call, Property, nullptr, {}};
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                      this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                                 nullptr, nullptr, nullptr, nullptr);
    return true;
  }

  // Pump handles the bus's messages until `done` or 20 s.
  static bool Pump(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      g_main_context_iteration(nullptr, FALSE);
      usleep(10000);
    }
    return true;
  }

  // CallItem calls `method` of `interface` on the item's object `object`; null on failure.
  GVariant* CallItem(const std::string& object, const char* interface, const char* method,
                     GVariant* parameters) {
    return g_dbus_connection_call_sync(bus, service.c_str(), object.c_str(), interface, method,
                                       parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                       nullptr);
  }

  // ItemProperty returns the item's string (or object path) property `name`.
  std::string ItemProperty(const char* name) {
    GVariant* reply = CallItem(path, "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
    if (reply == nullptr) return "";
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    std::string text = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    g_variant_unref(reply);
    return text;
  }
};

// Windows returns how many visible X windows have the title `title`.
int Windows(const std::string& title) {
  FILE* pipe = popen(("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").c_str(),
                     "r");
  int lines = 0;
  for (int c; (c = fgetc(pipe)) != EOF;) lines += c == '\n';
  pclose(pipe);
  return lines;
}

// PumpFor handles the bus's messages for `milliseconds`.
void PumpFor(int milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  Watcher::Pump([&] { return std::chrono::steady_clock::now() > until; });
}

// Press gives the window titled `title` the keyboard and presses `key` there.
void Press(const std::string& title, const std::string& key) {
  system(("w=$(xdotool search --onlyvisible --name '^" + title +
          "$' | tail -n 1) && xdotool windowfocus --sync \"$w\" && xdotool key " + key)
             .c_str());
}

TEST(DesktopShell, TrayIconMenuAndBoxes) {
  if (std::getenv("DISPLAY") == nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr ||
      system("command -v xdotool >/dev/null") != 0) {
    GTEST_SKIP() << "needs an X display, a session bus and xdotool: run under tests/run-on-desktop";
  }
  Watcher watcher;
  ASSERT_TRUE(watcher.Start());
  ASSERT_TRUE(Watcher::Pump([] { return true; }));
  const int port = FreePort();
  const pid_t pid =
      RunServerBinary(ServerBinary(), port, StateRoot() + "/desktop-errors.txt", StateRoot(),
                      "C.UTF-8");
  ASSERT_TRUE(Watcher::Pump([&] { return !watcher.service.empty(); })) << "no item registered";
  EXPECT_EQ(watcher.ItemProperty("Title"), "Quilmarend 3,1,0,10");

  // The menu: its items' labels and types, by dbusmenu's GetLayout of the root.
  const std::string menuPath = watcher.ItemProperty("Menu");
  const gchar* const allProperties[] = {nullptr};
  GVariant* layout = watcher.CallItem(menuPath, "com.canonical.dbusmenu", "GetLayout",
                                      g_variant_new("(ii^as)", 0, -1, allProperties));
  ASSERT_NE(layout, nullptr);
  std::vector<std::string> labels;
  std::vector<int> ids;
  GVariant* root = g_variant_get_child_value(layout, 1);
  GVariant* children = g_variant_get_child_value(root, 2);
  for (size_t i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* child = g_variant_get_variant(g_variant_get_child_value(children, i));
    int id = 0;
    GVariant* properties = nullptr;
    g_variant_get(child, "(i@a{sv}av)", &id, &properties, nullptr);
    const char *label = "", *type = "";
    g_variant_lookup(properties, "label", "&s", &label);
    g_variant_lookup(properties, "type", "&s", &type);
    labels.push_back(std::string(type) == "separator" ? "-" : label);
    ids.push_back(id);
  }
  ASSERT_EQ(labels, (std::vector<std::string>{"О программе", "Установить сертификат", "-", "Выход"}));
  auto click = [&](int item) {
    GVariant* reply =
        watcher.CallItem(menuPath, "com.canonical.dbusmenu", "Event",
                         g_variant_new("(isvu)", ids[item], "clicked", g_variant_new_int32(0), 0));
    if (reply != nullptr) g_variant_unref(reply);
  };

  // "О программе" twice: one box, and none after it is closed.
  click(0);
  click(0);
  ASSERT_TRUE(Watcher::Pump([] { return Windows("О программе") > 0; }));
  PumpFor(700);
  EXPECT_EQ(Windows("О программе"), 1);
  if (const char* shot = std::getenv("QUILMAREND_SCREENSHOT")) {
    system(("import -window root '" + std::string(shot) + "'").c_str());
  }
  Press("О программе", "Escape");
  EXPECT_TRUE(Watcher::Pump([] { return Windows("О программе") == 0; }));
  PumpFor(700);
  EXPECT_EQ(Windows("О программе"), 0);

  // "Выход" answered No keeps the server answering; Yes stops it and the item goes.
  click(3);
  ASSERT_TRUE(Watcher::Pump([] { return Windows("Quilmarend") > 0; }));
  Press("Quilmarend", "Escape");
  EXPECT_TRUE(Watcher::Pump([] { return Windows("Quilmarend") == 0; }));
  std::optional<TestClient> client = TestClient::Connect(port);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->ReadGreeting(), "Quilmarend 3,1,0,10\r\n\r\n");
  click(3);
  ASSERT_TRUE(Watcher::Pump([] { return Windows("Quilmarend") > 0; }));
  Press("Quilmarend", "Return");
  int status = 0;
  EXPECT_TRUE(Watcher::Pump([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
  EXPECT_EQ(WEXITSTATUS(status), 2);  // the mode decision after the run: no AppID key
  EXPECT_TRUE(client->WaitClosed(1000));
  GVariant* owner = g_dbus_connection_call_sync(
      watcher.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", watcher.service.c_str()), nullptr,
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  gboolean hasOwner = TRUE;
  g_variant_get(owner, "(b)", &hasOwner);
  EXPECT_FALSE(hasOwner) << "the item is still on the bus";
}

}  // namespace
}  // namespace tests
