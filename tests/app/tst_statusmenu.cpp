// The command line, the status menu's entries, the one running instance without a display or a
// bus, and the memory housekeeping.
#include "app/appdelegate.h"
#include "app/launchoptions.h"
#include "app/memoryhousekeeping.h"
#include "app/statusmenu.h"
#include "clock/manualclock.h"
#include "desktop/singleinstance.h"

#include <QAction>
#include <QApplication>
#include <QJSEngine>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTextStream>
#include <QtTest>

using namespace velline;

namespace {

LaunchOptions parse(QStringList args) {
    args.prepend(QStringLiteral("/usr/bin/velline"));
    return LaunchOptions::parse(args);
}

} // namespace

class TestStatusMenu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<bool>("stats");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("exitCode"); // -1: runs
        QTest::addColumn<QStringList>("message");
        QTest::newRow("nothing") << QStringList() << false << false << "" << -1 << QStringList();
        QTest::newRow("demo") << QStringList{"--demo"} << true << false << "" << -1
                              << QStringList();
        QTest::newRow("stats") << QStringList{"--stats", "--demo"} << true << true << "" << -1
                               << QStringList();
        QTest::newRow("demo with an action") << QStringList{"--demo", "--refresh"} << true << false
                                             << "refresh" << -1 << QStringList();
        for (const char* action : {"quick-add", "settings", "refresh", "quit"})
            QTest::newRow(action) << QStringList{QStringLiteral("--") + action} << false << false
                                  << action << -1 << QStringList();
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
        QFETCH(bool, demo);
        QFETCH(bool, stats);
        QFETCH(QString, action);
        QFETCH(int, exitCode);
        QFETCH(QStringList, message);
        const LaunchOptions options = parse(args);
        QCOMPARE(options.exitCode.value_or(-1), exitCode);
        for (const QString& part : message)
            QVERIFY2(options.message.contains(part), qPrintable(part));
        QCOMPARE(options.demo, demo);
        QCOMPARE(options.stats, stats);
        QCOMPARE(options.action, action);
    }

    void entries() {
        installKeyNames();
        QStringList titles, hints, commands;
        for (const StatusMenuEntry& e : statusMenuEntries()) {
            titles << (e.separator ? QStringLiteral("---") : e.title);
            hints << e.shortcut.toString(QKeySequence::NativeText);
            commands << e.command;
        }
        QCOMPARE(titles,
                 (QStringList{QStringLiteral("Add Stock\u2026"), QStringLiteral("Settings\u2026"),
                              "Refresh Now", "---", QStringLiteral("Check for Updates\u2026"),
                              "---", "Quit Velline"}));
        QCOMPARE(hints, (QStringList{"Super+K", "Ctrl+,", "Ctrl+R", "", "", "", "Ctrl+Q"}));
        QCOMPARE(commands, (QStringList{"quick-add", "settings", "refresh", "", "check-for-updates",
                                        "", "quit"}));

        // The built menu shows them, each reaching the delegate; the update check stays
        // enabled (the updater itself tells what it can do).
        AppDelegate delegate;
        std::unique_ptr<QMenu> menu(buildStatusMenu(delegate));
        QStringList shown;
        for (const QAction* a : menu->actions())
            shown << (a->isSeparator() ? QStringLiteral("---") : a->text());
        QCOMPARE(shown, titles);
        QVERIFY(menu->actions().at(4)->isEnabled());
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        menu->actions().at(1)->trigger();
        QCOMPARE(settings.count(), 1);
        delegate.performCommand(QStringLiteral("no-such-command")); // ignored
        QCOMPARE(settings.count(), 1);
    }

    void dbusMenuShortcuts_data() {
        QTest::addColumn<QKeySequence>("sequence");
        QTest::addColumn<QList<QStringList>>("expected");
        // GTK trays read the key by its keysym name: "," would lose the whole hint.
        QTest::newRow("Ctrl+,") << QKeySequence(Qt::CTRL | Qt::Key_Comma)
                                << QList<QStringList>{{"Control", "comma"}};
        QTest::newRow("Super+K") << QKeySequence(Qt::META | Qt::Key_K)
                                 << QList<QStringList>{{"Super", "K"}};
        QTest::newRow("all modifiers, minus")
            << QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::META | Qt::Key_Minus)
            << QList<QStringList>{{"Control", "Alt", "Shift", "Super", "minus"}};
        QTest::newRow("digit and function key")
            << QKeySequence(Qt::CTRL | Qt::Key_1, QKeyCombination(Qt::Key_F12))
            << QList<QStringList>{{"Control", "1"}, {"F12"}};
        QTest::newRow("page down")
            << QKeySequence(Qt::Key_PageDown) << QList<QStringList>{{"Page_Down"}};
        QTest::newRow("none") << QKeySequence() << QList<QStringList>{};
    }
    void dbusMenuShortcuts() {
        QFETCH(QKeySequence, sequence);
        QFETCH(QList<QStringList>, expected);
        QCOMPARE(dbusMenuShortcut(sequence), expected);
    }

    void withoutASessionBus() {
        // A connection that never reached a bus stands for a session without one.
        SingleInstance instance(QDBusConnection(QStringLiteral("no-bus")));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        // Velline still runs, with a warning...
        QCOMPARE(settleInstance(parse({}), instance, out, err), std::nullopt);
        QVERIFY(errText.contains(QStringLiteral("no session bus")));
        QVERIFY(!instance.isOwner());
        // ...but an action cannot reach anyone: a clear error and exit code 1.
        for (const char* action : {"--quick-add", "--settings", "--refresh", "--quit"}) {
            errText.clear();
            QCOMPARE(settleInstance(parse({QLatin1String(action)}), instance, out, err),
                     std::optional<int>(1));
            QVERIFY2(errText.contains(QStringLiteral("session bus")), qPrintable(errText));
        }
        // A demo does not look for the bus at all; a demo told to quit has nothing to do.
        errText.clear();
        QCOMPARE(settleInstance(parse({QStringLiteral("--demo")}), instance, out, err),
                 std::nullopt);
        QCOMPARE(settleInstance(parse({QStringLiteral("--demo"), QStringLiteral("--quit")}),
                                instance, out, err),
                 std::optional<int>(0));
        QVERIFY(errText.isEmpty() && outText.isEmpty());
    }

    // Script garbage is collected once a period, on the clock, without waiting for the
    // engine's own heap to fill.
    void collectsScriptGarbageOncePerPeriod() {
        ManualClock clock(1000);
        QJSEngine engine;
        MemoryHousekeeping housekeeping(&clock, &engine, 60);

        auto* dropped = new QObject;
        QPointer<QObject> watch(dropped);
        // Owned by the script engine, referenced by nothing.
        engine.newQObject(dropped);
        QJSEngine::setObjectOwnership(dropped, QJSEngine::JavaScriptOwnership);

        clock.advance(59.999);
        QCOMPARE(housekeeping.rounds(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(watch);

        clock.advance(0.001);
        QCOMPARE(housekeeping.rounds(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watch);

        clock.advance(120);
        QCOMPARE(housekeeping.rounds(), 3);
    }

    void survivesItsEngine() {
        ManualClock clock(0);
        auto engine = std::make_unique<QJSEngine>();
        MemoryHousekeeping housekeeping(&clock, engine.get(), 1);
        engine.reset();
        clock.advance(1);
        QCOMPARE(housekeeping.rounds(), 1);
#if defined(__GLIBC__)
        QVERIFY(MemoryHousekeeping::releaseFreeHeap());
#endif
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
