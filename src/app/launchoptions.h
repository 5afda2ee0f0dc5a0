#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QApplication;

namespace velline {

// The command line of `velline`.
struct LaunchOptions {
    bool demo = false;
    // Set when the program should end at once with this code after printing `message`
    // (--help, --version, an unknown option).
    std::optional<int> exitCode;
    QString message;

    // `arguments` includes the program name. Needs no application object, so --help works
    // without a display.
    static LaunchOptions parse(const QStringList& arguments);
};

// Process-wide choices that must be made before the application object exists: X11 through
// XWayland under a Wayland session (a Wayland client can neither place itself at the top of the
// screen nor stay above other windows), and the software scene graph unless QT_QUICK_BACKEND
// asks for another.
void prepareProcess();

// Names, and the accessory behaviour: no window keeps the program alive or ends it.
void configureApplication(QApplication& app);

// SIGINT, SIGTERM and SIGHUP end the event loop instead of the process, so what lives on the
// stack of main (the demo's settings folder) is cleaned up. Call once, after the application
// object exists.
void quitOnTerminationSignals();

} // namespace velline
