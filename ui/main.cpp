// boolconv: opens the main window.

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/form1.h"

namespace {

// True when Qt has somewhere to show the window: an X or Wayland display, or
// a platform chosen explicitly (QT_QPA_PLATFORM or "-platform"). Qt itself
// would abort with a core dump when it finds none.
bool HasDisplay(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
      !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    return true;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HasDisplay(argc, argv)) {
    std::fputs(
        "boolconv: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
        "cannot open; use boolconv-cli to convert expressions on the command line.\n",
        stderr);
    return EXIT_FAILURE;
  }
  QApplication app(argc, argv);
  // Ties the window to its menu entry and icon once installed (Wayland uses
  // the desktop file name; the icon comes from the installed icon theme).
  QGuiApplication::setDesktopFileName(QStringLiteral("boolconv"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("boolconv")));
  Form1 form;
  form.show();
  return app.exec();
}
