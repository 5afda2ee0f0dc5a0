// Velline on a private session bus, against small fake desktop services written here: a
// StatusNotifierWatcher that reads the tray item's menu, a GlobalShortcuts portal whose
// Activated signal toggles the quick-add panel, and a second Velline reaching the first.
#include "app/appdelegate.h"
#include "app/demosession.h"
#include "app/launchoptions.h"
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
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
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

// ---- a StatusNotifierWatcher that reads the menu of the first item registering ----

struct MenuNode {
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};

MenuNode readNode(const QDBusArgument& arg) {
    MenuNode node;
    arg.beginStructure();
    arg >> node.id >> node.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        node.children.append(readNode(child.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return node;
}

// Lives on a thread of its own: Qt asks the watcher with blocking calls while it sets up the
// tray icon on the main thread.
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
            item = message.service();
            readMenu(message.arguments().value(0).toString());
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

    // What the tray item says about itself, then its menu.
    void readMenu(const QString& registered) {
        // Qt registers its service name; others register an object path on their connection.
        const QString service = registered.startsWith(QLatin1Char('/')) ? item : registered;
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
        get << QStringLiteral("org.kde.StatusNotifierItem");
        auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get));
        QObject::connect(call, &QDBusPendingCallWatcher::finished, call, [this, service, call] {
            call->deleteLater();
            const QDBusMessage reply = call->reply();
            if (reply.type() != QDBusMessage::ReplyMessage) {
                error = reply.errorMessage();
                failed.store(true);
                return;
            }
            QVariantMap props;
            reply.arguments().value(0).value<QDBusArgument>() >> props;
            itemProperties = props;
            const QString menuPath =
                props.value(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
            QDBusMessage layout = QDBusMessage::createMethodCall(
                service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                QStringLiteral("GetLayout"));
            layout << 0 << -1 << QStringList();
            auto* second = new QDBusPendingCallWatcher(m_bus.asyncCall(layout));
            QObject::connect(second, &QDBusPendingCallWatcher::finished, second, [this, second] {
                second->deleteLater();
                const QDBusMessage r = second->reply();
                if (r.type() != QDBusMessage::ReplyMessage) {
                    error = r.errorMessage();
                    return;
                }
                menu = readNode(r.arguments().value(1).value<QDBusArgument>());
                menuRead = true;
            });
        });
    }

    QDBusConnection m_bus{QString()};
    QString item;
    QVariantMap itemProperties;
    MenuNode menu;
    QString error;
    // Set last, after the fields above.
    std::atomic<bool> menuRead = false;
    std::atomic<bool> failed = false;
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
        // The first Velline owns the name and exports org.freedesktop.Application.
        SingleInstance first(QDBusConnection::sessionBus());
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        QCOMPARE(settleInstance(parse({}), first, out, err), std::nullopt);
        QVERIFY(first.isOwner());
        QVERIFY(SingleInstance::isRunning(QDBusConnection::sessionBus()));
        QCOMPARE(SingleInstance::objectPath(), QStringLiteral("/org/velline/Velline"));

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

    void actionsWithoutARunningInstance() {
        QVERIFY(!SingleInstance::isRunning(QDBusConnection::sessionBus()));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        {
            // --quit with nothing running: nothing to do.
            SingleInstance instance(QDBusConnection::sessionBus());
            QCOMPARE(settleInstance(parse({QStringLiteral("--quit")}), instance, out, err),
                     std::optional<int>(0));
        }
        QVERIFY(!SingleInstance::isRunning(QDBusConnection::sessionBus()));
        {
            // Another action: this process becomes Velline (and runs it once started).
            SingleInstance instance(QDBusConnection::sessionBus());
            QCOMPARE(settleInstance(parse({QStringLiteral("--quick-add")}), instance, out, err),
                     std::nullopt);
            QVERIFY(instance.isOwner());
        }
        QVERIFY(!SingleInstance::isRunning(QDBusConnection::sessionBus()));
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
            QSignalSpy done(&controller.hotKey(), &GlobalHotKey::registrationFinished);
            controller.hotKey().bindPortal(QDBusConnection::sessionBus());
            QVERIFY(done.wait(5000));
            QCOMPARE(controller.hotKey().backend(), GlobalHotKey::Backend::x11Grab);
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
        QSignalSpy done(&hotKey, &GlobalHotKey::registrationFinished);
        hotKey.bindPortal(QDBusConnection::sessionBus());
        QVERIFY(done.wait(5000));
        QCOMPARE(hotKey.backend(), GlobalHotKey::Backend::portal);
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
        QSignalSpy refusedDone(&refused.hotKey(), &GlobalHotKey::registrationFinished);
        refused.hotKey().bindPortal(QDBusConnection::sessionBus());
        QVERIFY(refusedDone.wait(5000));
        QCOMPARE(refused.hotKey().backend(), GlobalHotKey::Backend::none);
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    }

    void trayMenuOverStatusNotifier() {
        QThread thread;
        thread.start();
        FakeWatcher watcher;
        watcher.moveToThread(&thread);
        QMetaObject::invokeMethod(
            &watcher, [&watcher] { watcher.start(); }, Qt::BlockingQueuedConnection);
        QVERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.kde.StatusNotifierWatcher")));

        DemoSession demo(Clock::system());
        QString error;
        QVERIFY2(demo.start(&error), qPrintable(error));
        AppDelegate delegate;
        QSignalSpy started(&delegate, &AppDelegate::started);
        delegate.applicationDidFinishLaunching();
        QVERIFY(started.wait(10000));
        QVERIFY(delegate.trayIcon());
        QVERIFY(delegate.trayIcon()->isVisible());
        QCOMPARE(delegate.trayIcon()->toolTip(), QStringLiteral("Velline"));

        QTRY_VERIFY_WITH_TIMEOUT(watcher.menuRead || watcher.failed, 10000);
        QVERIFY2(!watcher.failed, qPrintable(watcher.error));
        QVERIFY(watcher.itemProperties.contains(QStringLiteral("Menu")));
        // The tray draws what the menu shows: the entries, the separators and the hints, the
        // keys by the names GTK trays read.
        QStringList entries, hints;
        int settingsId = -1;
        for (const MenuNode& child : watcher.menu.children) {
            if (child.properties.value(QStringLiteral("type")).toString() ==
                QLatin1String("separator"))
                entries << QStringLiteral("---");
            else
                entries << child.properties.value(QStringLiteral("label")).toString();
            const QDBusArgument shortcut =
                child.properties.value(QStringLiteral("shortcut")).value<QDBusArgument>();
            QList<QStringList> keys;
            if (shortcut.currentType() != QDBusArgument::UnknownType)
                shortcut >> keys;
            hints << (keys.isEmpty() ? QString() : keys.first().join(QLatin1Char('+')));
            if (entries.last() == QStringLiteral("Settings\u2026"))
                settingsId = child.id;
        }
        QCOMPARE(entries,
                 (QStringList{QStringLiteral("Add Stock\u2026"), QStringLiteral("Settings\u2026"),
                              "Refresh Now", "---", QStringLiteral("Check for Updates\u2026"),
                              "---", "Quit Velline"}));
        QCOMPARE(hints,
                 (QStringList{"Super+K", "Control+comma", "Control+R", "", "", "", "Control+Q"}));

        // A click in the tray runs the entry; an unknown item is an error, not a crash.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        const auto click = [&](int id) {
            QDBusMessage event = QDBusMessage::createMethodCall(
                watcher.item, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                QStringLiteral("Event"));
            event << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
            return QDBusConnection::sessionBus().asyncCall(event);
        };
        QDBusPendingCall wrong = click(99);
        QTRY_VERIFY_WITH_TIMEOUT(wrong.isFinished(), 10000);
        QVERIFY(wrong.isError());
        QDBusPendingCall right = click(settingsId);
        QTRY_COMPARE_WITH_TIMEOUT(settings.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(right.isFinished(), 10000);
        QVERIFY2(!right.isError(), qPrintable(right.error().message()));
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
