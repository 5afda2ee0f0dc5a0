// The command line, the status menu and its key names, the one running instance without a display
// or a bus, and the memory housekeeping.
#include "app/appdelegate.h"
#include "app/launchoptions.h"
#include "app/memoryhousekeeping.h"
#include "app/statusmenu.h"
#include "clock/manualclock.h"
#include "desktop/singleinstance.h"

#include <QApplication>
#include <QJSEngine>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTextStream>
#include <QtTest>

using namespace velline;
using namespace Qt::StringLiterals;

namespace {

LaunchOptions parse(QStringList args) {
    args.prepend(u"/usr/bin/velline"_s);
    return LaunchOptions::parse(args);
}

} // namespace

class TestStatusMenu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // (Each action reaching the running Velline is tst_desktopbus's.)
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<bool>("stats");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("exitCode"); // -1: runs
        QTest::addColumn<QStringList>("message");
        const QStringList none;
        QTest::newRow("demo") << QStringList{"--demo"} << true << false << "" << -1 << none;
        QTest::newRow("stats") << QStringList{"--stats", "--demo"} << true << true << "" << -1
                               << none;
        QTest::newRow("demo with an action")
            << QStringList{"--demo", "--refresh"} << true << false << "refresh" << -1 << none;
        QTest::newRow("help") << QStringList{"--help"} << false << false << "" << 0
                              << QStringList{"Usage: velline", "--quick-add", "--settings",
                                             "--refresh",      "--quit",      "--demo",
                                             "--stats"};
        // Mistakes end the program with a usage error instead of being ignored.
        for (const char* wrong : {"--dmo", "AAPL", "-x"})
            QTest::newRow(wrong) << QStringList{wrong} << false << false << "" << 64
                                 << QStringList{"--help"};
        QTest::newRow("two actions") << QStringList{"--quit", "--refresh"} << false << false << ""
                                     << 64 << QStringList{"cannot be combined"};
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, message);
        const LaunchOptions options = parse(args);
        QTEST(options.exitCode.value_or(-1), "exitCode");
        for (const QString& part : message)
            QVERIFY2(options.message.contains(part), qPrintable(part));
        QTEST(options.demo, "demo");
        QTEST(options.stats, "stats");
        QTEST(options.action, "action");
    }

    // The menu runs its entries through the delegate; the hot key reads Super, not Meta.
    // The process-wide preferences for drawing take effect only where the environment leaves
    // them open: what the user set stays.
    void drawingPreferencesLeaveTheUsersOwn() {
        const QByteArray names[] = {"QT_XCB_NO_MITSHM", "QT_QPA_UPDATE_IDLE_TIME"};
        QHash<QByteArray, std::optional<QByteArray>> saved;
        for (const QByteArray& name : names) {
            saved[name] =
                qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
            qunsetenv(name);
        }
        prepareProcess();
        QCOMPARE(qgetenv("QT_XCB_NO_MITSHM"), "1");
        QCOMPARE(qgetenv("QT_QPA_UPDATE_IDLE_TIME"), "0");

        qputenv("QT_XCB_NO_MITSHM", "0");
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "16");
        prepareProcess();
        QCOMPARE(qgetenv("QT_XCB_NO_MITSHM"), "0");
        QCOMPARE(qgetenv("QT_QPA_UPDATE_IDLE_TIME"), "16");

        for (const QByteArray& name : names) {
            if (saved[name])
                qputenv(name, *saved[name]);
            else
                qunsetenv(name);
        }
    }

    void menuRunsItsEntries() {
        AppDelegate delegate;
        std::unique_ptr<QMenu> menu(buildStatusMenu(delegate));
        QCOMPARE(statusMenuEntries().first().shortcut.toString(QKeySequence::NativeText),
                 u"Super+K"_s);
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        menu->actions().at(1)->trigger();
        delegate.performCommand(u"no-such-command"_s); // ignored
        QCOMPARE(settings.count(), 1);
    }

    void dbusMenuShortcuts_data() {
        QTest::addColumn<QKeySequence>("sequence");
        QTest::addColumn<QList<QStringList>>("expected");
        // GTK trays read the key by its keysym name: "," would lose the whole hint.
        QTest::newRow("Ctrl+,") << QKeySequence(Qt::CTRL | Qt::Key_Comma)
                                << QList<QStringList>{{"Control", "comma"}};
        QTest::newRow("all modifiers, minus")
            << QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::META | Qt::Key_Minus)
            << QList<QStringList>{{"Control", "Alt", "Shift", "Super", "minus"}};
        QTest::newRow("digit and function key")
            << QKeySequence(Qt::CTRL | Qt::Key_1, QKeyCombination(Qt::Key_F12))
            << QList<QStringList>{{"Control", "1"}, {"F12"}};
        QTest::newRow("none") << QKeySequence() << QList<QStringList>{};
    }
    void dbusMenuShortcuts() {
        QFETCH(QKeySequence, sequence);
        QTEST(dbusMenuShortcut(sequence), "expected");
    }

    void withoutASessionBus() {
        // A connection that never reached a bus stands for a session without one.
        SingleInstance instance(QDBusConnection(u"no-bus"_s));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        // Velline still runs, with a warning...
        QCOMPARE(settleInstance(parse({}), instance, out, err), std::nullopt);
        QVERIFY(errText.contains(u"no session bus"_s));
        QVERIFY(!instance.isOwner());
        // ...but an action cannot reach anyone: a clear error and exit code 1.
        errText.clear();
        QCOMPARE(settleInstance(parse({u"--refresh"_s}), instance, out, err), std::optional(1));
        QVERIFY2(errText.contains(u"session bus"_s), qPrintable(errText));
        // A demo does not look for the bus at all; a demo told to quit has nothing to do.
        errText.clear();
        QCOMPARE(settleInstance(parse({u"--demo"_s}), instance, out, err), std::nullopt);
        QCOMPARE(settleInstance(parse({u"--demo"_s, u"--quit"_s}), instance, out, err),
                 std::optional(0));
        QVERIFY(errText.isEmpty() && outText.isEmpty());
    }

    // Script garbage is collected once a period, on the clock, without waiting for the
    // engine's own heap to fill; the housekeeping outlives the engine.
    void collectsScriptGarbageOncePerPeriod() {
        ManualClock clock(1000);
        auto engine = std::make_unique<QJSEngine>();
        MemoryHousekeeping housekeeping(&clock, engine.get(), 60);
        // Owned by the script engine, referenced by nothing.
        QPointer<QObject> dropped(new QObject);
        engine->newQObject(dropped);
        QJSEngine::setObjectOwnership(dropped, QJSEngine::JavaScriptOwnership);

        clock.advance(59.999);
        QCOMPARE(housekeeping.rounds(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dropped);
        clock.advance(0.001);
        QCOMPARE(housekeeping.rounds(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dropped);
        clock.advance(120);
        QCOMPARE(housekeeping.rounds(), 3);

        engine.reset();
        clock.advance(60);
        QCOMPARE(housekeeping.rounds(), 4);
#if defined(__GLIBC__)
        QVERIFY(MemoryHousekeeping::releaseFreeHeap());
#endif
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
