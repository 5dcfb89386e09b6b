// boolconv: opens the main window.

#include <QApplication>
#include <QByteArray>
#include <QByteArrayList>
#include <QIcon>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "ui/form1.h"

namespace {

constexpr char kUseCli[] = "use boolconv-cli to convert expressions on the command line.";

// What Qt says (category qt.qpa.plugin) when no plugin of a platform it was
// asked for is installed; Debian ships the Wayland one in qt6-wayland.
constexpr char kMissingPluginCategory[] = "qt.qpa.plugin";
constexpr char kMissingWaylandPlugin[] = "Could not find the Qt platform plugin \"wayland";

// The value of "-platform NAME" (or "--platform NAME") on the command line,
// or nullptr.
const char* PlatformArgument(int argc, char* argv[]) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return argv[i + 1];
    }
  }
  return nullptr;
}

// True when Qt has somewhere to show the window: an X or Wayland display, or
// a platform chosen explicitly (QT_QPA_PLATFORM or "-platform"). Qt itself
// would abort with a core dump when it finds none.
bool HasDisplay(int argc, char* argv[]) {
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || PlatformArgument(argc, argv) != nullptr;
}

// A message Qt logged while it was opening the display.
struct HeldMessage {
  QtMsgType type;
  QByteArray file, function, category;
  int line;
  QString text;
};

// What the message handler below knows; Qt calls it as a plain function.
struct OpeningState {
  std::mutex mutex;
  QtMessageHandler previous_handler = nullptr;
  QByteArray display;  // the display settings in force, e.g. «DISPLAY=:1»
  std::vector<HeldMessage> held;
  bool wayland_plugin_missing = false;
};

OpeningState& Opening() {
  static OpeningState state;
  return state;
}

// Qt ends the process with abort(), and so a core dump, when the platform
// it chose cannot be opened (an X display nobody serves, a Wayland display
// without Qt's Wayland plugin): its last message is a fatal one. Until then
// this handler holds Qt's messages back; on the fatal one it prints one
// sentence instead and exits with status 1.
void HandleWhileOpening(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  OpeningState& state = Opening();
  std::lock_guard lock(state.mutex);
  const QByteArray category(context.category != nullptr ? context.category : "");
  if (category == kMissingPluginCategory && text.contains(QLatin1String(kMissingWaylandPlugin))) {
    state.wayland_plugin_missing = true;
  }
  if (type != QtFatalMsg) {
    state.held.push_back({type, context.file, context.function, category, context.line, text});
    return;
  }
  const char* reason = state.wayland_plugin_missing
                           ? " because Qt's Wayland plugin is not installed (install the Debian "
                             "package qt6-wayland)"
                           : "";
  std::fprintf(stderr,
               "boolconv: the display (%s) cannot be opened%s, so the window cannot open; %s\n",
               state.display.constData(), reason, kUseCli);
  std::fflush(stderr);
  // Exit without running the destructors of what Qt has half built.
  std::_Exit(EXIT_FAILURE);
}

// Holds Qt's messages back from here until ReleaseMessages().
void HoldMessages(int argc, char* argv[]) {
  QByteArrayList settings;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (!qEnvironmentVariableIsEmpty(name)) settings << QByteArray(name) + '=' + qgetenv(name);
  }
  if (const char* platform = PlatformArgument(argc, argv)) {
    settings << QByteArray("-platform ") + platform;
  }
  OpeningState& state = Opening();
  std::lock_guard lock(state.mutex);
  state.display = settings.join(", ");
  state.previous_handler = qInstallMessageHandler(&HandleWhileOpening);
}

// Puts the previous message handler back and gives it the held messages,
// which then appear as Qt would have printed them.
void ReleaseMessages() {
  OpeningState& state = Opening();
  std::vector<HeldMessage> held;
  {
    std::lock_guard lock(state.mutex);
    qInstallMessageHandler(state.previous_handler);
    held.swap(state.held);
  }
  for (const HeldMessage& message : held) {
    const QMessageLogContext context(message.file.constData(), message.line,
                                     message.function.constData(), message.category.constData());
    state.previous_handler(message.type, context, message.text);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HasDisplay(argc, argv)) {
    std::fprintf(stderr,
                 "boolconv: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the "
                 "window cannot open; %s\n",
                 kUseCli);
    return EXIT_FAILURE;
  }
  HoldMessages(argc, argv);
  QApplication app(argc, argv);
  ReleaseMessages();
  // Ties the window to its menu entry and icon once installed (Wayland uses
  // the desktop file name; the icon comes from the installed icon theme).
  QGuiApplication::setDesktopFileName(QStringLiteral("boolconv"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("boolconv")));
  Form1 form;
  form.show();
  return app.exec();
}
