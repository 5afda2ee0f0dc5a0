// velline: the notch stock ticker.
#include "app/appdelegate.h"
#include "app/demosession.h"
#include "app/launchoptions.h"
#include "app/runstats.h"
#include "clock/clock.h"
#include "desktop/singleinstance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTextStream>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const velline::LaunchOptions options = velline::LaunchOptions::parse(arguments);
    if (options.exitCode) {
        QTextStream(*options.exitCode == 0 ? stdout : stderr) << options.message;
        return *options.exitCode;
    }

    velline::prepareProcess();
    QApplication app(argc, argv);
    velline::configureApplication(app);
    velline::quitOnTerminationSignals();
    velline::RunStats stats;
    if (options.stats)
        stats.install();

    velline::SingleInstance instance(QDBusConnection::sessionBus());
    {
        QTextStream out(stdout), err(stderr);
        if (const std::optional<int> code = velline::settleInstance(options, instance, out, err))
            return *code;
    }

    std::unique_ptr<velline::DemoSession> demo;
    if (options.demo) {
        demo = std::make_unique<velline::DemoSession>(velline::Clock::system());
        QString error;
        if (!demo->start(&error)) {
            QTextStream(stderr) << "velline: " << error << "\n";
            return 1;
        }
        demo->seedPreferences();
        QTextStream(stdout) << "velline: demo feed on " << demo->baseUrl().toString() << "\n";
    }

    velline::AppDelegate delegate;
    QObject::connect(&instance, &velline::SingleInstance::actionRequested, &delegate,
                     &velline::AppDelegate::performCommand);
    if (!options.action.isEmpty()) {
        QObject::connect(&delegate, &velline::AppDelegate::started, &delegate,
                         [&delegate, action = options.action] { delegate.performCommand(action); });
    }
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
