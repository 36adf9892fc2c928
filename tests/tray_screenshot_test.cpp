// The tray icon as a person sees it: a real Xfce panel, whose notification area hosts
// StatusNotifierItems, along the top of the virtual display, and the server's icon read back from
// the screen's pixels: the seal's blue while the server runs, none after it stopped. Run under
// tests/run-on-desktop; skipped without a display, a session bus or xfce4-panel. The screenshots go
// to the build folder (tests/tray-*.png). GLib's values are not freed: the process is short and
// its leak check skips GLib.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e_environment.h"

namespace tests {
namespace {

constexpr int kPanelHeight = 32;

// One panel along the top of the screen holding the notification area.
constexpr char kPanelConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

// Spawn runs `args` with the settings `environment` (NAME=value) added to this process's, and
// its standard error in `errorFile`; returns the pid.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const std::string& errorFile) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
    unsetenv("QUILMAREND_LOG");
    if (freopen(errorFile.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// WaitFor asks `done` every 50 ms for up to 20 s; false on the time limit.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (; !done(); usleep(50000)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
  return true;
}

// BusCall calls a method on the session bus; null on failure.
GVariant* BusCall(const char* name, const char* path, const char* interface, const char* method,
                  GVariant* parameters) {
  return g_dbus_connection_call_sync(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr), name,
                                     path, interface, method, parameters, nullptr,
                                     G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
}

bool TrayHostRegistered() {
  GVariant* reply = BusCall(
      "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties",
      "Get",
      g_variant_new("(ss)", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"));
  GVariant* value = nullptr;
  if (reply != nullptr) g_variant_get(reply, "(v)", &value);
  return value != nullptr && g_variant_get_boolean(value);
}

// BluePixels saves the panel's rows of the screen as `png` and counts the pixels of the seal's
// blue there, cairo's (0.12, 0.31, 0.55) give or take the panel's scaling.
int BluePixels(const std::string& png) {
  GdkWindow* screen = gdk_get_default_root_window();
  GdkPixbuf* shot =
      gdk_pixbuf_get_from_window(screen, 0, 0, gdk_window_get_width(screen), kPanelHeight);
  gdk_pixbuf_save(shot, png.c_str(), "png", nullptr, nullptr);
  const int stride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
  int blue = 0;
  for (int y = 0; y < kPanelHeight; ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
      const guchar* p = gdk_pixbuf_get_pixels(shot) + y * stride + x * channels;
      blue += std::abs(p[0] - 31) < 16 && std::abs(p[1] - 79) < 16 && std::abs(p[2] - 140) < 16;
    }
  }
  g_object_unref(shot);
  return blue;
}

TEST(TrayScreenshot, PanelDrawsTheServersIcon) {
  if (!getenv("DISPLAY") || !getenv("DBUS_SESSION_BUS_ADDRESS") ||
      system("command -v xfce4-panel >/dev/null") != 0) {
    GTEST_SKIP() << "needs an X display, a session bus and xfce4-panel: run under "
                    "tests/run-on-desktop";
  }
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  // The panel's settings daemon is started by the bus: it must see the test's configuration.
  const std::string config = StateRoot() + "/config";
  std::filesystem::create_directories(config + "/xfce4/xfconf/xfce-perchannel-xml");
  std::ofstream(config + "/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml") << kPanelConfig;
  GVariantBuilder settings;
  g_variant_builder_init(&settings, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&settings, "{ss}", "XDG_CONFIG_HOME", config.c_str());
  ASSERT_NE(BusCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "UpdateActivationEnvironment", g_variant_new("(a{ss})", &settings)),
            nullptr);

  struct Case {
    const char* name;
    bool themeHasIcon;  // the installed icon theme, as the package lays it out, or none
    bool serverFirst;   // the server starts before any tray host, as at a login
  };
  const std::string systemData = "XDG_DATA_DIRS=/usr/local/share:/usr/share";
  const std::string withIcon = "XDG_DATA_DIRS=" QUILMAREND_DATA_DIR ":/usr/local/share:/usr/share";
  for (const Case& c : {Case{"drawn", false, true}, Case{"theme", true, false}}) {
    SCOPED_TRACE(c.name);
    const std::string errors = StateRoot() + "/tray-" + c.name + ".txt";
    const std::string png = std::string(QUILMAREND_SCREENSHOTS) + "/tray-" + c.name + ".png";
    const std::vector<std::string> server = {"QUILMAREND_PORT=0", "QUILMAREND_HOME=" + StateRoot(),
                                             "LC_ALL=C.UTF-8",
                                             c.themeHasIcon ? withIcon : systemData};
    const std::vector<std::string> panelCommand = {"xfce4-panel", "--disable-wm-check"};
    const std::vector<std::string> panelSettings = {server.back()};
    pid_t serverPid = 0, panelPid = 0;
    if (c.serverFirst) {
      serverPid = Spawn({ServerBinary()}, server, errors);
      EXPECT_TRUE(WaitFor(
          [&] { return ReadFile(errors).find("Tray icon cannot be shown") != std::string::npos; }));
      panelPid = Spawn(panelCommand, panelSettings, StateRoot() + "/panel.txt");
    } else {
      panelPid = Spawn(panelCommand, panelSettings, StateRoot() + "/panel.txt");
      ASSERT_TRUE(WaitFor(TrayHostRegistered));
      serverPid = Spawn({ServerBinary()}, server, errors);
    }
    EXPECT_TRUE(WaitFor([&] { return BluePixels(png) >= 40; })) << "no icon in " << png;
    Stop(serverPid);
    EXPECT_TRUE(WaitFor([&] { return BluePixels(StateRoot() + "/gone.png") == 0; }));
    Stop(panelPid);
    EXPECT_EQ(ReadFile(errors).find("Tray icon cannot be shown") != std::string::npos,
              c.serverFirst);
  }
}

}  // namespace
}  // namespace tests
