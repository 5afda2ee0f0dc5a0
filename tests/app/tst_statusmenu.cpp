// The status menu's entries and the command line of the one running instance, without a display
// or a bus.
#include "app/appdelegate.h"
#include "app/launchoptions.h"
#include "app/statusmenu.h"
#include "desktop/singleinstance.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
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

    void builtMenu() {
        AppDelegate delegate;
        std::unique_ptr<QMenu> menu(buildStatusMenu(delegate));
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 7);
        QVERIFY(actions.at(3)->isSeparator());
        QVERIFY(actions.at(5)->isSeparator());
        QCOMPARE(actions.at(0)->text(), QStringLiteral("Add Stock\u2026"));
        QCOMPARE(actions.at(6)->text(), QStringLiteral("Quit Velline"));
        // The update check stays enabled: the updater itself tells what it can do.
        QVERIFY(actions.at(4)->isEnabled());

        // Each entry reaches the delegate.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        actions.at(1)->trigger();
        QCOMPARE(settings.count(), 1);
        delegate.performCommand(QStringLiteral("no-such-command")); // ignored
        QCOMPARE(settings.count(), 1);
    }

    void commandLine() {
        QCOMPARE(parse({QStringLiteral("--quick-add")}).action, QStringLiteral("quick-add"));
        QCOMPARE(parse({QStringLiteral("--settings")}).action, QStringLiteral("settings"));
        QCOMPARE(parse({QStringLiteral("--refresh")}).action, QStringLiteral("refresh"));
        QCOMPARE(parse({QStringLiteral("--quit")}).action, QStringLiteral("quit"));
        QCOMPARE(parse({}).action, QString());
        const LaunchOptions demo = parse({QStringLiteral("--demo"), QStringLiteral("--refresh")});
        QVERIFY(demo.demo);
        QCOMPARE(demo.action, QStringLiteral("refresh"));

        const LaunchOptions both = parse({QStringLiteral("--quit"), QStringLiteral("--refresh")});
        QCOMPARE(both.exitCode, 64);
        QVERIFY(both.message.contains(QStringLiteral("cannot be combined")));

        const LaunchOptions help = parse({QStringLiteral("--help")});
        for (const char* option : {"--quick-add", "--settings", "--refresh", "--quit", "--demo"})
            QVERIFY2(help.message.contains(QLatin1String(option)), option);
    }

    void withoutASessionBus() {
        // A connection that never reached a bus stands for a session without one.
        SingleInstance instance(QDBusConnection(QStringLiteral("no-bus")));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);

        // Velline still runs, with a warning.
        QCOMPARE(settleInstance(parse({}), instance, out, err), std::nullopt);
        QVERIFY(errText.contains(QStringLiteral("no session bus")));
        QVERIFY(!instance.isOwner());

        // An action cannot reach anyone: a clear error and exit code 1.
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
        QVERIFY(errText.isEmpty());
        QCOMPARE(settleInstance(parse({QStringLiteral("--demo"), QStringLiteral("--quit")}),
                                instance, out, err),
                 std::optional<int>(0));
        QVERIFY(outText.isEmpty());
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
