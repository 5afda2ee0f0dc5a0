#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QApplication;
class QTextStream;

namespace velline {

class SingleInstance;

// The command line of `velline`.
struct LaunchOptions {
    bool demo = false;
    // --quick-add, --settings, --refresh or --quit: the action ("quick-add", "settings",
    // "refresh", "quit") to run in the running Velline, or in this one once started.
    QString action;
    // Print frame counts and the time of the first drawn frame (on SIGUSR1 and at exit).
    bool stats = false;
    // Set when the program should end at once with this code after printing `message`
    // (--help, --version, an unknown option).
    std::optional<int> exitCode;
    QString message;

    // `arguments` includes the program name. Needs no application object, so --help works
    // without a display.
    static LaunchOptions parse(const QStringList& arguments);
};

// Settles which process runs Velline, before anything is built. A demo never claims the
// session-bus name. Otherwise this process claims it; when another Velline owns it, the action
// goes to that one (or, without an action, "Velline is already running" is printed) and this
// process is done. Without a session bus Velline runs unguarded after a warning, but an action
// is an error. Returns the exit code when this process should end now.
std::optional<int> settleInstance(const LaunchOptions& options, SingleInstance& instance,
                                  QTextStream& out, QTextStream& err);

// Process-wide choices that must be made before the application object exists: X11 through
// XWayland under a Wayland session (a Wayland client can neither place itself at the top of the
// screen nor stay above other windows), the software scene graph unless QT_QUICK_BACKEND
// asks for another, and frames uploaded without shared memory.
void prepareProcess();

// Names, and the accessory behaviour: no window keeps the program alive or ends it.
void configureApplication(QApplication& app);

// SIGINT, SIGTERM and SIGHUP end the event loop instead of the process, so what lives on the
// stack of main (the demo's settings folder) is cleaned up. Call once, after the application
// object exists.
void quitOnTerminationSignals();

} // namespace velline
