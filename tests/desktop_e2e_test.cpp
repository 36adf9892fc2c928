// The server on a desktop: its tray icon as a StatusNotifierItem, registered with a watcher of
// the test's own on a private session bus, its menu over dbusmenu, and its boxes as windows on
// an X display. Run under tests/run-on-desktop; skipped without a display, a session bus or
// xdotool. GLib's values are not freed: the process is short and its leak check skips GLib.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
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

GDBusConnection* bus = nullptr;
std::string item, itemPath;  // the registered item's bus name and object path

// The watcher's methods and properties: it records the item and says a tray host is there.
void WatcherCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                 GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  if (std::string(method) == "RegisterStatusNotifierItem") {
    const char* argument = nullptr;
    g_variant_get(parameters, "(&s)", &argument);
    item = sender;
    itemPath = argument[0] == '/' ? argument : "/StatusNotifierItem";
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}
GVariant* WatcherProperty(GDBusConnection*, const char*, const char*, const char*, const char* name,
                          GError**, gpointer) {
  if (std::string(name) == "ProtocolVersion") return g_variant_new_int32(0);
  if (std::string(name) == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
  return g_variant_new_strv(nullptr, 0);
}

void StartWatcher() {
  bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.kde.StatusNotifierWatcher'>"
      "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
      "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
      "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
      "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
      "<property name='ProtocolVersion' type='i' access='read'/></interface></node>",
      nullptr);
  static const GDBusInterfaceVTable vtable = {WatcherCall, WatcherProperty, nullptr, {}};
  g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                    nullptr, nullptr, nullptr);
  g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                               nullptr, nullptr, nullptr, nullptr);
}

// Pump handles the bus's messages until `done` or 20 s; false on the time limit.
bool Pump(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (; !done(); usleep(10000)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
  }
  return true;
}

// Call calls a method of `name` on the bus; null on failure.
GVariant* Call(const std::string& name, const std::string& path, const char* method,
               GVariant* parameters) {
  const std::string full = method;
  const size_t dot = full.rfind('.');
  return g_dbus_connection_call_sync(bus, name.c_str(), path.c_str(), full.substr(0, dot).c_str(),
                                     full.substr(dot + 1).c_str(), parameters, nullptr,
                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

// ItemProperty returns the item's string (or object path) property `name`.
std::string ItemProperty(const char* name) {
  GVariant* reply = Call(item, itemPath, "org.freedesktop.DBus.Properties.Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
  GVariant* value = nullptr;
  if (reply != nullptr) g_variant_get(reply, "(v)", &value);
  return value != nullptr ? g_variant_get_string(value, nullptr) : "";
}

// Windows returns how many visible X windows have the title `title`.
int Windows(const std::string& title) {
  FILE* pipe = popen(("xdotool search --onlyvisible --name '^" + title + "$'").c_str(), "r");
  int lines = 0;
  for (int c; (c = fgetc(pipe)) != EOF;) lines += c == '\n';
  pclose(pipe);
  return lines;
}

// Press gives the window titled `title` the keyboard and presses `key` there.
void Press(const std::string& title, const std::string& key) {
  system(("w=$(xdotool search --onlyvisible --name '^" + title +
          "$' | tail -n 1) && xdotool windowfocus --sync \"$w\" && xdotool key " + key)
             .c_str());
}

// Menu is the item's context menu as dbusmenu lays it out: labels ("-" for a separator) and ids.
struct Menu {
  std::string path;
  std::vector<std::string> labels;
  std::vector<int> ids;
};

Menu ReadMenu() {
  Menu menu;
  menu.path = ItemProperty("Menu");
  const char* const everyProperty[] = {nullptr};
  GVariant* layout = Call(item, menu.path, "com.canonical.dbusmenu.GetLayout",
                          g_variant_new("(ii^as)", 0, -1, everyProperty));
  if (layout == nullptr) return menu;
  GVariant* children = g_variant_get_child_value(g_variant_get_child_value(layout, 1), 2);
  for (size_t i = 0; i < g_variant_n_children(children); ++i) {
    int id = 0;
    GVariant* properties = nullptr;
    g_variant_get(g_variant_get_variant(g_variant_get_child_value(children, i)), "(i@a{sv}av)", &id,
                  &properties, nullptr);
    const char *label = "", *type = "";
    g_variant_lookup(properties, "label", "&s", &label);
    g_variant_lookup(properties, "type", "&s", &type);
    menu.labels.push_back(std::string(type) == "separator" ? "-" : label);
    menu.ids.push_back(id);
  }
  return menu;
}

// Click chooses the menu's item `index`, as a tray host does.
void Click(const Menu& menu, int index) {
  Call(item, menu.path, "com.canonical.dbusmenu.Event",
       g_variant_new("(isvu)", menu.ids[index], "clicked", g_variant_new_int32(0), 0));
}

// WindowsOf returns how many visible X windows the process `pid` shows.
int WindowsOf(pid_t pid) {
  FILE* pipe = popen(("xdotool search --onlyvisible --pid " + std::to_string(pid)).c_str(), "r");
  int lines = 0;
  for (int c; (c = fgetc(pipe)) != EOF;) lines += c == '\n';
  pclose(pipe);
  return lines;
}

bool DesktopMissing() {
  return !getenv("DISPLAY") || !getenv("DBUS_SESSION_BUS_ADDRESS") ||
         system("command -v xdotool >/dev/null") != 0;
}

TEST(DesktopShell, TrayIconMenuAndBoxes) {
  if (DesktopMissing()) {
    GTEST_SKIP() << "needs an X display, a session bus and xdotool: run under tests/run-on-desktop";
  }
  StartWatcher();
  Pump([] { return !g_main_context_iteration(nullptr, FALSE); });
  const pid_t pid = RunServerBinary(ServerBinary(), 0, StateRoot() + "/desktop-errors.txt",
                                    StateRoot(), "C.UTF-8");
  ASSERT_TRUE(Pump([] { return !item.empty(); })) << "no item registered";
  const int port = WaitForListening(StateRoot() + "/desktop-errors.txt");
  EXPECT_EQ(ItemProperty("Title"), "Quilmarend 3,1,0,10");

  const Menu menu = ReadMenu();
  ASSERT_EQ(menu.labels,
            (std::vector<std::string>{"О программе", "Установить сертификат", "-", "Выход"}));
  auto click = [&](int index) { Click(menu, index); };
  auto settle = [] {
    Pump([start = std::chrono::steady_clock::now()] {
      return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(700);
    });
  };

  // "О программе" twice: one box, and none after it is closed.
  click(0);
  click(0);
  ASSERT_TRUE(Pump([] { return Windows("О программе") > 0; }));
  settle();
  EXPECT_EQ(Windows("О программе"), 1);
  Press("О программе", "Escape");
  settle();
  EXPECT_EQ(Windows("О программе"), 0);

  // "Выход" answered No keeps the server answering; Yes stops it, and the item goes.
  click(3);
  ASSERT_TRUE(Pump([] { return Windows("Quilmarend") > 0; }));
  Press("Quilmarend", "Escape");
  EXPECT_TRUE(Pump([] { return Windows("Quilmarend") == 0; }));
  std::optional<TestClient> client = TestClient::Connect(port);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->ReadGreeting(), "Quilmarend 3,1,0,10\r\n\r\n");
  click(3);
  ASSERT_TRUE(Pump([] { return Windows("Quilmarend") > 0; }));
  Press("Quilmarend", "Return");
  int status = 0;
  EXPECT_TRUE(Pump([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
  EXPECT_EQ(WEXITSTATUS(status), 2);  // the mode decision after the run: no AppID key
  EXPECT_TRUE(client->WaitClosed(1000));
  gboolean itemOnBus = TRUE;
  g_variant_get(Call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", g_variant_new("(s)", item.c_str())),
                "(b)", &itemOnBus);
  EXPECT_FALSE(itemOnBus);
}

// A stop does not wait for a person: the about box, the exit question and the import dialog are
// closed as No or Cancel and the server ends.
TEST(DesktopShell, StopClosesWhateverIsOpen) {
  if (DesktopMissing()) GTEST_SKIP() << "needs an X display, a session bus and xdotool";
  if (bus == nullptr) StartWatcher();
  for (const int index : {0, 3, 1}) {
    SCOPED_TRACE(index);
    item.clear();
    const pid_t pid = RunServerBinary(ServerBinary(), 0, StateRoot() + "/desktop-stop.txt",
                                      StateRoot(), "C.UTF-8");
    ASSERT_TRUE(Pump([] { return !item.empty(); }))
        << "no item registered: " << ReadFile(StateRoot() + "/desktop-stop.txt");
    Click(ReadMenu(), index);
    ASSERT_TRUE(Pump([pid] { return WindowsOf(pid) > 0; }));
    kill(pid, SIGTERM);
    int status = 0;
    EXPECT_TRUE(Pump([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
    EXPECT_TRUE(WIFEXITED(status));
  }
}

}  // namespace
}  // namespace tests
