// Velline on a private session bus, against small fake desktop services written here: a
// StatusNotifierWatcher that reads the tray item's menu, a GlobalShortcuts portal whose
// Activated signal toggles the quick-add panel, and a second Velline reaching the first.
#include "app/appdelegate.h"
#include "app/demosession.h"
#include "app/launchoptions.h"
#include "app/statusmenu.h"
#include "clock/clock.h"
#include "clock/manualclock.h"
#include "desktop/singleinstance.h"
#include "input/globalhotkey.h"
#include "market/quotesource.h"
#include "prefs/userpreferences.h"
#include "quickadd/quickaddcontroller.h"
#include "state/appstate.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace velline;
using namespace Qt::StringLiterals;

namespace {

// A dbusmenu layout (ia{sv}av) as one "label|keys" row per child of the root ("---" for a
// separator), with their ids.
QStringList menuRows(const QDBusArgument& root, QList<int>& ids) {
    int rootId = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> rootId >> properties;
    root.beginArray();
    QStringList rows;
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument entry = child.variant().value<QDBusArgument>();
        entry.beginStructure();
        entry >> ids.emplace_back() >> properties;
        entry.endStructure();
        const QDBusArgument shortcut = properties.value(u"shortcut"_s).value<QDBusArgument>();
        QList<QStringList> keys{{}};
        if (shortcut.currentType() != QDBusArgument::UnknownType)
            shortcut >> keys;
        const bool separator = properties.value(u"type"_s) == "separator"_L1;
        rows << (separator ? u"---"_s : properties.value(u"label"_s).toString()) + u'|' +
                    keys.value(0).join(u'+');
    }
    root.endArray();
    root.endStructure();
    return rows;
}

// Lives on a thread of its own: Qt asks the watcher with blocking calls while it sets up the
// tray icon on the main thread. Remembers who registered; the test then reads the item itself.
class FakeWatcher : public QDBusVirtualObject {
public:
    // On the watcher's thread: its own connection, the object and the well-known name.
    void start() {
        m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"watcher"_s);
        m_bus.registerVirtualObject(u"/StatusNotifierWatcher"_s, this);
        m_bus.registerService(u"org.kde.StatusNotifierWatcher"_s);
    }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" "
            "direction=\"in\"/></method>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == "Introspect"_L1) {
            connection.send(message.createReply(u"<node>%1</node>"_s.arg(introspect({}))));
        } else if (member == "Get"_L1) { // IsStatusNotifierHostRegistered
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
        } else if (member == "RegisterStatusNotifierItem"_L1) {
            connection.send(message.createReply());
            item = message.service(); // the connection that registers the item serves it
            registered.store(true);
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

    QDBusConnection m_bus{QString()};
    QString item;
    std::atomic<bool> registered = false; // set after `item`
};

// A desktop portal with GlobalShortcuts.
class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(const QDBusConnection& bus) : m_bus(bus) {}

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        calls.append(member);
        if (member == "Register"_L1) {
            registeredAppId = args.value(0).toString();
            connection.send(message.createReply());
        } else if (member == "Get"_L1 &&
                   args.value(0).toString() == "org.freedesktop.portal.GlobalShortcuts"_L1) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
        } else if (member == "CreateSession"_L1) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(0));
            session = u"/org/freedesktop/portal/desktop/session/%1/%2"_s.arg(
                sender(message), options.value(u"session_handle_token"_s).toString());
            respond(message, connection, options, 0, {{u"session_handle"_s, session}});
        } else if (member == "BindShortcuts"_L1) {
            boundSession = args.value(0).value<QDBusObjectPath>().path();
            const QDBusArgument list = args.value(1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap props;
                list.beginStructure();
                list >> id >> props;
                list.endStructure();
                triggers.insert(id, props.value(u"preferred_trigger"_s).toString());
            }
            list.endArray();
            respond(message, connection, qdbus_cast<QVariantMap>(args.value(3)), refuse ? 1 : 0,
                    {});
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

    void activate(const QString& id) {
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/portal/desktop"_s,
                                       u"org.freedesktop.portal.GlobalShortcuts"_s, u"Activated"_s);
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0)
               << QVariantMap();
        m_bus.send(signal);
    }

    static QString sender(const QDBusMessage& message) {
        return message.service().mid(1).replace(u'.', u'_');
    }

    // Replies with the request's path, then answers on it, as the portal does.
    void respond(const QDBusMessage& message, const QDBusConnection& connection,
                 const QVariantMap& options, uint code, const QVariantMap& results) {
        const QString path = u"/org/freedesktop/portal/desktop/request/%1/%2"_s.arg(
            sender(message), options.value(u"handle_token"_s).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        QDBusMessage response =
            QDBusMessage::createSignal(path, u"org.freedesktop.portal.Request"_s, u"Response"_s);
        response << code << results;
        connection.send(response);
    }

    QDBusConnection m_bus;
    QString session;
    QString boundSession;
    QMap<QString, QString> triggers; // of each bound shortcut
    QStringList calls;
    QString registeredAppId;
    bool refuse = false;
};

// Never answers: the quick-add rig needs no quotes.
struct SilentSource : QuoteSource {
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
};

// Binds the hot key of `controller` through the session bus's portal, if any, once it has
// answered; nullopt when it never does.
std::optional<GlobalHotKey::Backend> bindThroughPortal(QuickAddController& controller) {
    QSignalSpy done(&controller.hotKey(), &GlobalHotKey::registrationFinished);
    controller.hotKey().bindPortal(QDBusConnection::sessionBus());
    if (!done.wait(5000))
        return std::nullopt;
    return controller.hotKey().backend();
}

LaunchOptions parse(QStringList args) {
    args.prepend(u"velline"_s);
    return LaunchOptions::parse(args);
}

} // namespace

class TestDesktopBus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    }

    void oneRunningInstance() {
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        const QDBusConnection bus = QDBusConnection::sessionBus();
        // Nothing running: --quit has nothing to do, another action makes this process Velline
        // (which runs once started).
        for (const char* action : {"--quit", "--quick-add"}) {
            SingleInstance instance(bus);
            const bool quit = qstrcmp(action, "--quit") == 0;
            QCOMPARE(settleInstance(parse({action}), instance, out, err),
                     quit ? std::optional<int>(0) : std::nullopt);
            QVERIFY(quit || instance.isOwner());
        }
        QVERIFY(!SingleInstance::isRunning(bus));

        // The first Velline owns the name and exports org.freedesktop.Application.
        SingleInstance first(bus);
        QCOMPARE(settleInstance(parse({}), first, out, err), std::nullopt);
        QVERIFY(first.isOwner() && SingleInstance::isRunning(bus));

        // A second one, on its own connection, hands each action over and is done.
        const QDBusConnection secondBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"second"_s);
        QSignalSpy actions(&first, &SingleInstance::actionRequested);
        for (const QString& action : SingleInstance::actionNames()) {
            SingleInstance second(secondBus);
            QCOMPARE(settleInstance(parse({u"--"_s + action}), second, out, err),
                     std::optional<int>(0));
            QTRY_COMPARE(actions.size(), 1);
            QCOMPARE(actions.takeFirst().value(0).toString(), action);
        }
        QVERIFY2(errText.isEmpty(), qPrintable(errText));

        // A plain second start says so and ends.
        {
            SingleInstance second(secondBus);
            QCOMPARE(settleInstance(parse({}), second, out, err), std::optional<int>(0));
            QCOMPARE(outText, u"Velline is already running\n"_s);
        }

        // Unknown actions are not passed on.
        QDBusMessage call = QDBusMessage::createMethodCall(
            SingleInstance::serviceName(), SingleInstance::objectPath(),
            u"org.freedesktop.Application"_s, u"ActivateAction"_s);
        call << u"format-disk"_s << QVariant::fromValue(QVariantList())
             << QVariant::fromValue(QVariantMap());
        QDBusConnection(secondBus).call(call, QDBus::BlockWithGui);
        QTest::qWait(50);
        QCOMPARE(actions.size(), 0);

        QDBusConnection::disconnectFromBus(u"second"_s);
    }

    void portalShortcutTogglesThePanel() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"v.conf"_s), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        SilentSource source;
        ManualClock clock(1704898800);
        AppState state(&prefs, &source, &clock, nullptr);

        // Without a portal the X grab takes over.
        {
            QuickAddController controller(&prefs, &state);
            QCOMPARE(bindThroughPortal(controller), std::optional(GlobalHotKey::Backend::x11Grab));
        }

        const QDBusConnection portalBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"portal"_s);
        FakePortal portal(portalBus);
        QDBusConnection(portalBus).registerVirtualObject(u"/org/freedesktop/portal/desktop"_s,
                                                         &portal);
        QVERIFY(QDBusConnection(portalBus).registerService(u"org.freedesktop.portal.Desktop"_s));

        QuickAddController controller(&prefs, &state);
        GlobalHotKey& hotKey = controller.hotKey();
        QCOMPARE(bindThroughPortal(controller), std::optional(GlobalHotKey::Backend::portal));
        // The program names itself before anything else.
        QCOMPARE(portal.calls.value(0), u"Register"_s);
        QCOMPARE(portal.registeredAppId, u"org.velline.Velline"_s);
        QCOMPARE(portal.boundSession, portal.session);
        QCOMPARE(portal.triggers, (QMap<QString, QString>{{u"quick-add"_s, u"LOGO+k"_s}}));

        // Activated opens the panel, a second one closes it; other shortcuts are not ours.
        QSignalSpy triggered(&hotKey, &GlobalHotKey::triggered);
        portal.activate(u"quick-add"_s);
        QVERIFY(triggered.wait(5000));
        QTRY_VERIFY(controller.isVisible());
        portal.activate(u"something-else"_s);
        portal.activate(u"quick-add"_s);
        QVERIFY(triggered.wait(5000));
        QTRY_VERIFY(!controller.isVisible());
        QCOMPARE(triggered.size(), 2);

        // A refused binding leaves no shortcut (and the menu still works).
        portal.refuse = true;
        QuickAddController refused(&prefs, &state);
        QCOMPARE(bindThroughPortal(refused), std::optional(GlobalHotKey::Backend::none));
        QDBusConnection::disconnectFromBus(u"portal"_s);
    }

    void trayMenuOverStatusNotifier() {
        QThread thread;
        thread.start();
        FakeWatcher watcher;
        watcher.moveToThread(&thread);
        QMetaObject::invokeMethod(
            &watcher, [&watcher] { watcher.start(); }, Qt::BlockingQueuedConnection);

        DemoSession demo(Clock::system());
        QString error;
        QVERIFY2(demo.start(&error), qPrintable(error));
        AppDelegate delegate;
        QSignalSpy started(&delegate, &AppDelegate::started);
        delegate.applicationDidFinishLaunching();
        QVERIFY(started.wait(10000));
        QVERIFY(delegate.trayIcon() && delegate.trayIcon()->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(watcher.registered, 10000);
        const auto call = [&](const QString& path, const char* interface, const char* member,
                              const QVariantList& args) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                watcher.item, path, QLatin1String(interface), QLatin1String(member));
            message.setArguments(args);
            return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 10000);
        };
        const QDBusMessage menuProperty =
            call(u"/StatusNotifierItem"_s, "org.freedesktop.DBus.Properties", "Get",
                 {u"org.kde.StatusNotifierItem"_s, u"Menu"_s});
        const QVariant menu = menuProperty.arguments().value(0).value<QDBusVariant>().variant();
        const QString menuPath = menu.value<QDBusObjectPath>().path();
        const QDBusMessage layout =
            call(menuPath, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        QVERIFY2(layout.type() == QDBusMessage::ReplyMessage, qPrintable(layout.errorMessage()));

        // The tray draws what the menu shows: the entries, the separators and the hints, the
        // keys by the names GTK trays read (Qt's own export wrote Ctrl+, as "," and lost it).
        QList<int> ids;
        const QStringList shown = menuRows(layout.arguments().value(1).value<QDBusArgument>(), ids);
        QStringList expected;
        for (const StatusMenuEntry& e : statusMenuEntries()) {
            const QList<QStringList> keys = dbusMenuShortcut(e.shortcut);
            expected << (e.separator ? u"---"_s : e.title) + u'|' + keys.value(0).join(u'+');
        }
        QCOMPARE(shown, expected);
        const qsizetype settingsRow = shown.indexOf(u"Settings\u2026|Control+comma"_s);
        QVERIFY(settingsRow >= 0);

        // A click in the tray runs the entry; an unknown item is an error, not a crash.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        const auto click = [&](int id) {
            return call(menuPath, "com.canonical.dbusmenu", "Event",
                        {id, u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
        };
        QCOMPARE(click(99).type(), QDBusMessage::ErrorMessage);
        QCOMPARE(settings.size(), 0);
        const QDBusMessage right = click(ids.at(settingsRow));
        QVERIFY2(right.type() == QDBusMessage::ReplyMessage, qPrintable(right.errorMessage()));
        QTRY_COMPARE_WITH_TIMEOUT(settings.size(), 1, 10000);
        QThread* main = QThread::currentThread();
        QMetaObject::invokeMethod(
            &watcher,
            [&watcher, main] {
                QDBusConnection::disconnectFromBus(u"watcher"_s);
                watcher.moveToThread(main);
            },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};

QTEST_MAIN(TestDesktopBus)
#include "tst_desktopbus.moc"
