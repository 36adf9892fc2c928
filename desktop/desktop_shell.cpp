// The desktop backend of the Shell: the notification-area icon as a StatusNotifierItem with its
// menu over dbusmenu (libayatana-appindicator3), and message boxes and the open-file dialog
// through GTK 3. GTK runs on a thread of its own; every call of the interface is carried out
// there, and the caller waits for its result.
//
// The library exports one function, QuilmarendDesktopShell, which the host finds with dlopen
// when a display is present.

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <stdlib.h>

#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/icon.h"
#include "platform/base/cp1251.h"
#include "platform/base/names.h"
#include "platform/os/shell.h"

namespace desktop {
namespace {

using platform::Cp1251ToUtf8;

// IconFolder is a private folder holding the icon as an icon theme, for a tray whose icon theme
// lacks it; it is removed with the object.
class IconFolder {
 public:
  IconFolder() {
    const char* base = std::getenv("XDG_RUNTIME_DIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : "/tmp") + "/quilmarend-icons-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    path = pattern;
    WriteIconTheme(path);
  }
  ~IconFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

using GObjectPtr = std::unique_ptr<void, decltype(&g_object_unref)>;
using GVariantPtr = std::unique_ptr<GVariant, decltype(&g_variant_unref)>;

// XEmbedTrayPresent tells whether an X11 display has a tray of the older XEmbed kind, where the
// indicator library shows the icon itself when no StatusNotifierItem host is there.
bool XEmbedTrayPresent() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  GdkScreen* screen = gdk_display_get_default_screen(display);
  const std::string selection =
      "_NET_SYSTEM_TRAY_S" + std::to_string(gdk_x11_screen_get_screen_number(screen));
  return XGetSelectionOwner(gdk_x11_display_get_xdisplay(display),
                            gdk_x11_get_xatom_by_name_for_display(display, selection.c_str())) !=
         None;
}

// TrayHostMissing returns why the icon cannot be shown: no session bus, or no StatusNotifierItem
// host on it (no org.kde.StatusNotifierWatcher, or one without a host) and no XEmbed tray either.
// Empty when a tray can show it.
std::string TrayHostMissing(GDBusConnection* bus) {
  if (bus == nullptr) return "no session bus";
  auto call = [bus](const char* name, const char* path, const char* interface, const char* method,
                    GVariant* parameters) {
    return GVariantPtr(
        g_dbus_connection_call_sync(bus, name, path, interface, method, parameters, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr),
        &g_variant_unref);
  };
  gboolean found = FALSE;
  const GVariantPtr owned =
      call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
           g_variant_new("(s)", "org.kde.StatusNotifierWatcher"));
  if (owned) g_variant_get(owned.get(), "(b)", &found);
  if (found) {
    const GVariantPtr host = call(
        "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"));
    GVariant* value = nullptr;
    if (host) g_variant_get(host.get(), "(v)", &value);
    found = value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
            g_variant_get_boolean(value);
    if (value != nullptr) g_variant_unref(value);
  }
  if (found || XEmbedTrayPresent()) return "";
  return "no StatusNotifierItem host (tray) on the session bus; it appears when one starts";
}

// CaseInsensitive turns a glob such as "*.cer" into "*.[cC][eE][rR]": GTK matches patterns
// case-sensitively, Windows' dialog does not.
std::string CaseInsensitive(std::string_view pattern) {
  std::string glob;
  for (const char c : pattern) {
    if (g_ascii_isalpha(c)) {
      glob += {'[', g_ascii_tolower(c), g_ascii_toupper(c), ']'};
    } else {
      glob += c;
    }
  }
  return glob;
}

class DesktopShell final : public platform::Shell {
 public:
  // Start starts GTK on its thread; null when GTK cannot open the display. `log` writes a line
  // of the server log.
  static std::unique_ptr<DesktopShell> Start(platform::ShellLog log) {
    std::unique_ptr<DesktopShell> shell(new DesktopShell(log));
    std::promise<bool> opened;
    std::future<bool> isOpen = opened.get_future();
    shell->gtkThread = std::thread([&opened] {
      const bool ok = gtk_init_check(nullptr, nullptr);
      opened.set_value(ok);
      if (ok) gtk_main();
    });
    if (!isOpen.get()) {
      shell->gtkThread.join();
      return nullptr;
    }
    return shell;
  }

  ~DesktopShell() override {
    if (!gtkThread.joinable()) return;
    Call([this] {
      RemoveIcon();
      gtk_main_quit();
      return 0;
    });
    gtkThread.join();
  }

  platform::MessageBoxAnswer MessageBox(std::string_view title, std::string_view text,
                                        platform::MessageBoxIcon icon,
                                        platform::MessageBoxButtons buttons) override {
    const std::string utf8Title = Cp1251ToUtf8(title), utf8Text = Cp1251ToUtf8(text);
    return Call([&] {
      const bool question = buttons == platform::MB_YESNO;
      if (closed) return question ? platform::IDNO : platform::IDOK;
      GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageType(icon),
                                                 question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK,
                                                 "%s", utf8Text.c_str());
      gtk_window_set_title(GTK_WINDOW(dialog), utf8Title.c_str());
      gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
      // Yes is the default button of a question, as in a Windows box; Escape answers No.
      if (question) gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
      const int response = RunDialog(dialog);
      if (!question) return platform::IDOK;
      return response == GTK_RESPONSE_YES ? platform::IDYES : platform::IDNO;
    });
  }

  bool Shell_NotifyIcon(platform::NotifyIconMessage message,
                        const platform::NotifyIconData& data) override {
    const std::string tip = Cp1251ToUtf8(data.tip);
    return Call([&] {
      switch (message) {
        case platform::NIM_ADD:
          if (indicator != nullptr) return false;
          AddIcon(data, tip);
          return true;
        case platform::NIM_MODIFY:
          if (indicator == nullptr) return false;
          app_indicator_set_title(indicator, tip.c_str());
          return true;
        case platform::NIM_DELETE:
          if (indicator == nullptr) return false;
          RemoveIcon();
          return true;
      }
      return false;
    });
  }

  std::vector<std::string> GetOpenFileName(
      const std::vector<platform::FileFilter>& filters) override {
    return Call([&] {
      std::vector<std::string> paths;
      if (closed) return paths;
      GtkWidget* dialog =
          gtk_file_chooser_dialog_new(nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                      GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
      GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
      gtk_file_chooser_set_select_multiple(chooser, TRUE);
      for (const platform::FileFilter& filter : filters) {
        GtkFileFilter* gtkFilter = gtk_file_filter_new();
        gtk_file_filter_set_name(gtkFilter, Cp1251ToUtf8(filter.description).c_str());
        for (size_t start = 0; start <= filter.patterns.size();) {
          size_t end = filter.patterns.find(';', start);
          if (end == std::string::npos) end = filter.patterns.size();
          if (end > start) {
            const std::string_view pattern(filter.patterns.data() + start, end - start);
            gtk_file_filter_add_pattern(gtkFilter, CaseInsensitive(pattern).c_str());
          }
          start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, gtkFilter);  // the first one added is selected
      }
      // The names are read before the dialog goes.
      openDialogs.push_back(dialog);
      if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* name = names; name != nullptr; name = name->next) {
          paths.emplace_back(static_cast<char*>(name->data));
          g_free(name->data);
        }
        g_slist_free(names);
      }
      std::erase(openDialogs, dialog);
      gtk_widget_destroy(dialog);
      return paths;
    });
  }

  void CloseDialogs() override {
    Call([this] {
      closed = true;
      // Each answer ends its dialog's own loop; the call that ran it goes on from there.
      for (GtkWidget* dialog : openDialogs)
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
      return 0;
    });
  }

 private:
  explicit DesktopShell(platform::ShellLog writeLog) : log(writeLog) {}

  // RunDialog runs `dialog` until it is answered or CloseDialogs closes it, destroys it and
  // returns the response.
  int RunDialog(GtkWidget* dialog) {
    openDialogs.push_back(dialog);
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    std::erase(openDialogs, dialog);
    gtk_widget_destroy(dialog);
    return response;
  }

  // Call runs `work` on the GTK thread and returns its result; on that thread itself (from a
  // menu's handler, say) it runs at once.
  template <class Work>
  auto Call(Work&& work) -> decltype(work()) {
    using Result = decltype(work());
    std::packaged_task<Result()> task(std::forward<Work>(work));
    std::future<Result> result = task.get_future();
    g_main_context_invoke(
        nullptr,
        [](gpointer data) -> gboolean {
          (*static_cast<std::packaged_task<Result()>*>(data))();
          return G_SOURCE_REMOVE;
        },
        &task);
    return result.get();
  }

  static GtkMessageType MessageType(platform::MessageBoxIcon icon) {
    switch (icon) {
      case platform::MB_ICONERROR:
        return GTK_MESSAGE_ERROR;
      case platform::MB_ICONQUESTION:
        return GTK_MESSAGE_QUESTION;
      case platform::MB_ICONWARNING:
        return GTK_MESSAGE_WARNING;
      case platform::MB_ICONINFORMATION:
        return GTK_MESSAGE_INFO;
      case platform::kNoIcon:
        break;
    }
    return GTK_MESSAGE_OTHER;
  }

  // MenuAction is what a menu item's "activate" handler is given; the item owns it, and frees it
  // when the item goes.
  struct MenuAction {
    std::function<void(uint32_t)> choose;
    uint32_t command;
  };

  // BuildMenu makes a GtkMenu of `items`; choosing one calls `choose` with its command.
  static GtkWidget* BuildMenu(const std::vector<platform::MenuItem>& items,
                              const std::function<void(uint32_t)>& choose) {
    GtkWidget* menu = gtk_menu_new();
    for (const platform::MenuItem& item : items) {
      if (item.command == 0) {
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
        continue;
      }
      GtkWidget* entry = gtk_menu_item_new_with_label(Cp1251ToUtf8(item.text).c_str());
      g_signal_connect_data(
          entry, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
            const auto* action = static_cast<MenuAction*>(data);
            action->choose(action->command);
          }),
          new MenuAction{choose, item.command},
          +[](gpointer data, GClosure*) { delete static_cast<MenuAction*>(data); },
          GConnectFlags(0));
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
    }
    gtk_widget_show_all(menu);
    return menu;
  }

  void AddIcon(const platform::NotifyIconData& data, const std::string& tip) {
    post = data.post;
    // The session bus is the process's one connection, shared with the indicator library: kept
    // open for as long as the shell lives, so that no user's release closes it under another
    // that is still connecting (the icon then never registers).
    if (!sessionBus) {
      sessionBus =
          GObjectPtr(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr), &g_object_unref);
    }
    const std::string missing = TrayHostMissing(static_cast<GDBusConnection*>(sessionBus.get()));
    if (!missing.empty() && log != nullptr) {
      log(("Tray icon cannot be shown: " + missing).c_str());
    }
    // The tray host looks the name up in its icon theme: the installed one when the package put
    // the icon there, else a folder of our own that the item names.
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    if (!icons && gtk_icon_theme_has_icon(theme, kIconName)) {
      indicator = app_indicator_new(platform::kProgramFileName, kIconName,
                                    APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    } else {
      if (!icons) {
        icons = std::make_unique<IconFolder>();
        // Without a StatusNotifierItem host the library shows an XEmbed icon, and on the way it
        // reads past the end of the theme's search path unless it finds the folder there.
        gtk_icon_theme_append_search_path(theme, icons->path.c_str());
      }
      indicator = app_indicator_new_with_path(platform::kProgramFileName, kIconName,
                                              APP_INDICATOR_CATEGORY_APPLICATION_STATUS,
                                              icons->path.c_str());
    }
    app_indicator_set_title(indicator, tip.c_str());
    // The tray host shows the menu itself on a right click; a chosen item becomes WM_COMMAND.
    GtkWidget* menu = BuildMenu(data.menu, [this](uint32_t command) {
      if (post) post(platform::kCommandMessage, command, 0);
    });
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
  }

  void RemoveIcon() {
    if (indicator == nullptr) return;
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(indicator);
    indicator = nullptr;
    post = nullptr;
  }

  std::thread gtkThread;
  const platform::ShellLog log;
  // The members below belong to the GTK thread.
  std::unique_ptr<IconFolder> icons;  // made when the icon theme lacks the icon
  GObjectPtr sessionBus{nullptr, &g_object_unref};
  AppIndicator* indicator = nullptr;
  std::function<void(uint32_t, uintptr_t, intptr_t)> post;
  std::vector<GtkWidget*> openDialogs;  // boxes and file dialogs being run, innermost last
  bool closed = false;                  // CloseDialogs has run: nothing opens any more
};

}  // namespace
}  // namespace desktop

// QuilmarendDesktopShell starts the desktop backend, which writes its notes through `log`; null
// when no display can be opened. The caller owns the result.
extern "C" __attribute__((visibility("default"))) platform::Shell* QuilmarendDesktopShell(
    platform::ShellLog log) {
  return desktop::DesktopShell::Start(log).release();
}
