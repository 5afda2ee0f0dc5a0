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
#include "quickadd/quickaddpanel.h"
#include "state/appstate.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
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

namespace {

// ---- a StatusNotifierWatcher that notes the first item registering ----

// The entries of a dbusmenu layout (ia{sv}av): the id and the properties of each child of the
// root.
QList<QPair<int, QVariantMap>> entriesOf(const QDBusArgument& root) {
    int rootId = 0;
    QVariantMap rootProperties;
    root.beginStructure();
    root >> rootId >> rootProperties;
    root.beginArray();
    QList<QPair<int, QVariantMap>> entries;
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument entry = child.variant().value<QDBusArgument>();
        entry.beginStructure();
        entry >> entries.emplace_back().first >> entries.back().second;
        entry.endStructure();
    }
    root.endArray();
    root.endStructure();
    return entries;
}

// Lives on a thread of its own: Qt asks the watcher with blocking calls while it sets up the
// tray icon on the main thread. Remembers who registered; the test then reads the item itself.
class FakeWatcher : public QDBusVirtualObject {
public:
    // On the watcher's thread: its own connection, the object and the well-known name.
    void start() {
        m_bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        m_bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), this);
        m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" "
            "direction=\"in\"/></method>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("Introspect")) {
            connection.send(message.createReply(
                QStringLiteral("<node>%1</node>").arg(introspect(message.path()))));
            return true;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
            connection.send(message.createReply());
            // The item is served by the connection that registers it.
            item = message.service();
            registered.store(true);
            return true;
        }
        if (message.member() == QLatin1String("Get")) {
            const QString property = message.arguments().value(1).toString();
            QVariant value;
            if (property == QLatin1String("IsStatusNotifierHostRegistered"))
                value = true;
            else if (property == QLatin1String("ProtocolVersion"))
                value = 0;
            else if (property == QLatin1String("RegisteredStatusNotifierItems"))
                value = QStringList();
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
        return true;
    }

    QDBusConnection m_bus{QString()};
    QString item;
    std::atomic<bool> registered = false; // set after `item`
};

// ---- a desktop portal with GlobalShortcuts ----

class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(const QDBusConnection& bus) : m_bus(bus) {}

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        calls.append(member);
        if (member == QLatin1String("Register")) {
            registeredAppId = message.arguments().value(0).toString();
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("Get") &&
            message.arguments().value(0).toString() ==
                QLatin1String("org.freedesktop.portal.GlobalShortcuts")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
            return true;
        }
        if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(0));
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender(message),
                               options.value(QStringLiteral("session_handle_token")).toString());
            respond(message, connection, options, 0, {{QStringLiteral("session_handle"), session}});
            return true;
        }
        if (member == QLatin1String("BindShortcuts")) {
            const QList<QVariant> args = message.arguments();
            boundSession = args.value(0).value<QDBusObjectPath>().path();
            const QDBusArgument list = args.value(1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap props;
                list.beginStructure();
                list >> id >> props;
                list.endStructure();
                shortcuts.insert(id, props);
            }
            list.endArray();
            respond(message, connection, qdbus_cast<QVariantMap>(args.value(3)), refuse ? 1 : 0,
                    {});
            return true;
        }
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        return true;
    }

    void activate(const QString& id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0)
               << QVariantMap();
        m_bus.send(signal);
    }

    static QString sender(const QDBusMessage& message) {
        QString s = message.service().mid(1);
        s.replace(QLatin1Char('.'), QLatin1Char('_'));
        return s;
    }

    // Replies with the request's path, then answers on it, as the portal does.
    void respond(const QDBusMessage& message, const QDBusConnection& connection,
                 const QVariantMap& options, uint code, const QVariantMap& results) {
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(sender(message), options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        QDBusMessage response = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << results;
        connection.send(response);
    }

    QDBusConnection m_bus;
    QString session;
    QString boundSession;
    QMap<QString, QVariantMap> shortcuts;
    QStringList calls;
    QString registeredAppId;
    bool refuse = false;
};

// Never answers: the quick-add rig needs no quotes.
class SilentSource : public QuoteSource {
public:
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
    args.prepend(QStringLiteral("velline"));
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
        QVERIFY(first.isOwner());
        QVERIFY(SingleInstance::isRunning(bus));

        // A second one, on its own connection, hands each action over and is done.
        const QDBusConnection secondBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
        QSignalSpy actions(&first, &SingleInstance::actionRequested);
        for (const QString& action : SingleInstance::actionNames()) {
            SingleInstance second(secondBus);
            QCOMPARE(settleInstance(parse({QStringLiteral("--") + action}), second, out, err),
                     std::optional<int>(0));
            QVERIFY(!second.isOwner());
            QTRY_COMPARE(actions.size(), 1);
            QCOMPARE(actions.takeFirst().value(0).toString(), action);
        }
        QVERIFY2(errText.isEmpty(), qPrintable(errText));

        // A plain second start says so and ends.
        {
            SingleInstance second(secondBus);
            QCOMPARE(settleInstance(parse({}), second, out, err), std::optional<int>(0));
            QCOMPARE(outText, QStringLiteral("Velline is already running\n"));
        }

        // Unknown actions are not passed on.
        QDBusMessage call = QDBusMessage::createMethodCall(
            SingleInstance::serviceName(), SingleInstance::objectPath(),
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"));
        call << QStringLiteral("format-disk") << QVariant::fromValue(QVariantList())
             << QVariant::fromValue(QVariantMap());
        QDBusConnection(secondBus).call(call, QDBus::BlockWithGui);
        QTest::qWait(50);
        QCOMPARE(actions.size(), 0);

        // A demo neither claims the name nor asks the running one.
        {
            SingleInstance demo(secondBus);
            QCOMPARE(settleInstance(parse({QStringLiteral("--demo"), QStringLiteral("--refresh")}),
                                    demo, out, err),
                     std::nullopt);
            QVERIFY(!demo.isOwner());
            QTest::qWait(50);
            QCOMPARE(actions.size(), 0);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("second"));
    }

    void portalShortcutTogglesThePanel() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
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
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
        FakePortal portal(portalBus);
        QDBusConnection(portalBus).registerVirtualObject(
            QStringLiteral("/org/freedesktop/portal/desktop"), &portal);
        QVERIFY(QDBusConnection(portalBus).registerService(
            QStringLiteral("org.freedesktop.portal.Desktop")));

        QuickAddController controller(&prefs, &state);
        GlobalHotKey& hotKey = controller.hotKey();
        QCOMPARE(bindThroughPortal(controller), std::optional(GlobalHotKey::Backend::portal));
        // The program names itself before anything else.
        QCOMPARE(portal.calls.value(0), QStringLiteral("Register"));
        QCOMPARE(portal.registeredAppId, QStringLiteral("org.velline.Velline"));
        QCOMPARE(portal.boundSession, portal.session);
        QCOMPARE(portal.shortcuts.keys(), QStringList{QStringLiteral("quick-add")});
        const QVariantMap bound = portal.shortcuts.value(QStringLiteral("quick-add"));
        QCOMPARE(bound.value(QStringLiteral("description")).toString(),
                 QStringLiteral("Add a stock to Velline"));
        QCOMPARE(bound.value(QStringLiteral("preferred_trigger")).toString(),
                 QStringLiteral("LOGO+k"));

        // Activated opens the panel, a second one closes it; other shortcuts are not ours.
        QSignalSpy triggered(&hotKey, &GlobalHotKey::triggered);
        portal.activate(QStringLiteral("quick-add"));
        QVERIFY(triggered.wait(5000));
        QTRY_VERIFY(controller.isVisible());
        portal.activate(QStringLiteral("something-else"));
        portal.activate(QStringLiteral("quick-add"));
        QVERIFY(triggered.wait(5000));
        QTRY_VERIFY(!controller.isVisible());
        QCOMPARE(triggered.size(), 2);

        // A refused binding leaves no shortcut (and the menu still works).
        portal.refuse = true;
        QuickAddController refused(&prefs, &state);
        QCOMPARE(bindThroughPortal(refused), std::optional(GlobalHotKey::Backend::none));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
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
            call(QStringLiteral("/StatusNotifierItem"), "org.freedesktop.DBus.Properties", "Get",
                 {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
        QVERIFY2(menuProperty.type() == QDBusMessage::ReplyMessage,
                 qPrintable(menuProperty.errorMessage()));
        const QString menuPath = menuProperty.arguments()
                                     .value(0)
                                     .value<QDBusVariant>()
                                     .variant()
                                     .value<QDBusObjectPath>()
                                     .path();
        const QDBusMessage layout =
            call(menuPath, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        QVERIFY2(layout.type() == QDBusMessage::ReplyMessage, qPrintable(layout.errorMessage()));

        // The tray draws what the menu shows: the entries, the separators and the hints, the
        // keys by the names GTK trays read (Qt's own export wrote Ctrl+, as "," and lost it).
        const auto row = [](const QString& label, const QList<QStringList>& keys) {
            return label + QLatin1Char('|') + (keys.isEmpty() ? QString() : keys.first().join('+'));
        };
        QStringList shown, expected;
        QList<int> ids;
        for (const auto& [id, properties] :
             entriesOf(layout.arguments().value(1).value<QDBusArgument>())) {
            const QDBusArgument shortcut =
                properties.value(QStringLiteral("shortcut")).value<QDBusArgument>();
            QList<QStringList> keys;
            if (shortcut.currentType() != QDBusArgument::UnknownType)
                shortcut >> keys;
            ids << id;
            shown << row(properties.value(QStringLiteral("type")) == "separator"
                             ? QStringLiteral("---")
                             : properties.value(QStringLiteral("label")).toString(),
                         keys);
        }
        for (const StatusMenuEntry& e : statusMenuEntries())
            expected << row(e.separator ? QStringLiteral("---") : e.title,
                            dbusMenuShortcut(e.shortcut));
        QCOMPARE(shown, expected);
        const qsizetype settingsRow = shown.indexOf(QStringLiteral("Settings\u2026|Control+comma"));
        QVERIFY(settingsRow >= 0);

        // A click in the tray runs the entry; an unknown item is an error, not a crash.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        const auto click = [&](int id) {
            return call(menuPath, "com.canonical.dbusmenu", "Event",
                        {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
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
                QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
                watcher.moveToThread(main);
            },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};

QTEST_MAIN(TestDesktopBus)
#include "tst_desktopbus.moc"
