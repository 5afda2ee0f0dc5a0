// Alert events reaching a notification server: a fake org.freedesktop.Notifications on a private
// session bus (the test runs under dbus-run-session).
#include "clock/manualclock.h"
#include "desktop/alertnotifications.h"
#include "desktop/desktopnotifier.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace velline;
using namespace Qt::StringLiterals;

namespace {

// Answers each refresh with the quotes the test hands it, or never.
class ScriptedQuotes : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*,
                     std::function<void(QList<Quote>)> done) override {
        pending = std::move(done);
    }
    void answer(const QList<Quote>& quotes) { std::exchange(pending, nullptr)(quotes); }
    std::function<void(QList<Quote>)> pending;
};

struct Received {
    QString app;
    uint replacesId;
    QString summary;
    QString body;
    QVariantMap hints;
};

// Answers Notify with increasing ids, as a notification server does.
class FakeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<Received> received;
    uint nextId = 41;

public Q_SLOTS:
    uint Notify(const QString& app, uint replacesId, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& /*actions*/,
                const QVariantMap& hints, int /*timeout*/) {
        received.append({app, replacesId, summary, body, hints});
        return replacesId ? replacesId : ++nextId;
    }
};

// The fake server on a connection of its own, so every call goes through the bus daemon.
struct ServerOnBus {
    explicit ServerOnBus(const QString& name)
        : name(name), bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {
        registered =
            bus.registerObject(DesktopNotifier::kPath, &server, QDBusConnection::ExportAllSlots) &&
            bus.registerService(DesktopNotifier::kService);
    }
    ~ServerOnBus() {
        bus.unregisterService(DesktopNotifier::kService);
        QDBusConnection::disconnectFromBus(name);
    }
    QString name;
    QDBusConnection bus;
    FakeServer server;
    bool registered = false;
};

// The program's side: preferences, the watch state on a manual clock, the notifier.
struct Rig {
    QTemporaryDir dir;
    QSettings settings{dir.filePath(u"Velline.ini"_s), QSettings::IniFormat};
    UserPreferences prefs{&settings};
    ManualClock clock{1704898800};
    ScriptedQuotes source;
    DesktopNotifier notifier;
    QSignalSpy delivered{&notifier, &DesktopNotifier::delivered};
    std::unique_ptr<AppState> state;
    std::unique_ptr<AlertNotifications> notifications;

    void start() {
        state = std::make_unique<AppState>(&prefs, &source, &clock, [](const QString&) {});
        notifications = std::make_unique<AlertNotifications>(state.get(), &prefs, &notifier);
    }
};

AlertEvent alert(const char* symbol, AlertEvent::Reason reason = AlertEvent::Reason::spike()) {
    AlertEvent event;
    event.id = QUuid::createUuid();
    event.symbol = QLatin1String(symbol);
    event.reason = reason;
    return event;
}

AlertEvent::Reason crossed(double level, PriceAlert::Direction direction) {
    return AlertEvent::Reason::priceCross(level, direction);
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run under dbus-run-session");
    }

    void withoutAServiceNothingHappens() {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            DesktopNotifier::kService));
        DesktopNotifier notifier;
        QSignalSpy refused(&notifier, &DesktopNotifier::refused);
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        notifier.notify(u"AAPL crossed above $188.00"_s, QString());
        QVERIFY(refused.wait(5000));
        QCOMPARE(delivered.size(), 0);
        QCOMPARE(notifier.lastId(), 0u);
    }

    void alertEventsReachTheServerAndReplaceEachOther() {
        ServerOnBus bus(u"server"_s);
        QVERIFY(bus.registered);
        const QList<Received>& received = bus.server.received;
        Rig rig;
        rig.start();
        Stock nvda;
        nvda.symbol = u"NVDA"_s;
        nvda.previousClose = 100;
        nvda.price = 96.9;
        rig.state->setStocks({nvda});

        // Off by default: nothing is sent. An event outside a refresh goes out on the next turn.
        rig.state->fireAlert(alert("AAPL", crossed(188, PriceAlert::Direction::above)));
        rig.clock.runDue();
        rig.prefs.setDesktopNotifications(true);
        rig.state->fireAlert(alert("AAPL", crossed(188, PriceAlert::Direction::above)));
        QCOMPARE(received.size(), 0);
        rig.clock.runDue();
        QVERIFY(rig.delivered.wait(5000));
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0].app, u"Velline"_s);
        QCOMPARE(received[0].replacesId, 0u);
        QCOMPARE(received[0].summary, u"AAPL crossed above $188.00"_s);
        QVERIFY(received[0].hints.contains(u"desktop-entry"_s));
        QCOMPARE(rig.notifier.lastId(), 42u);

        // The same event published again is not sent again; the next one replaces the first.
        const AlertEvent nvdaSpike = alert("NVDA");
        rig.state->fireAlert(nvdaSpike);
        rig.clock.runDue();
        QVERIFY(rig.delivered.wait(5000));
        rig.state->fireAlert(nvdaSpike);
        rig.clock.advance(AppState::alertDisplayTime); // the event is cleared: nothing to send
        QCOMPARE(rig.state->alertEvent(), std::nullopt);
        rig.prefs.setDesktopNotifications(false);
        rig.state->fireAlert(alert("NVDA"));
        rig.clock.runDue();
        rig.prefs.setDesktopNotifications(true);
        rig.state->fireAlert(alert("MSFT", crossed(400, PriceAlert::Direction::below)));
        rig.clock.runDue();
        QVERIFY(rig.delivered.wait(5000));
        QCOMPARE(received.size(), 3);
        QCOMPARE(received[1].replacesId, 42u);
        QCOMPARE(received[1].summary, QString::fromUtf8("NVDA spiked \u22123.1 %"));
        QCOMPARE(received[1].body,
                 QString::fromUtf8("\u22123.1 % against the previous close, now $96.90"));
        QCOMPARE(received[2].replacesId, 42u);
        QCOMPARE(received[2].summary, u"MSFT crossed below $400.00"_s);
    }

    void quickSuccessionStillReplaces() {
        ServerOnBus bus(u"server2"_s);
        QVERIFY(bus.registered);
        DesktopNotifier notifier;
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        // Three before the first answer: the first goes out, only the newest follows it.
        for (const QString& summary : {u"one"_s, u"two"_s, u"three"_s})
            notifier.notify(summary, QString());
        QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 2, 5000);
        const QList<Received>& received = bus.server.received;
        QCOMPARE(received.size(), 2);
        QCOMPARE(received[0].summary, u"one"_s);
        QCOMPARE(received[1].summary, u"three"_s);
        QCOMPARE(received[1].replacesId, 42u);
    }

    void aRefreshTellsThePriceThatFired() {
        ServerOnBus bus(u"server3"_s);
        QVERIFY(bus.registered);
        const QList<Received>& received = bus.server.received;
        Rig rig;
        rig.prefs.setTrackedSymbols({u"MSFT"_s, u"NVDA"_s});
        rig.prefs.setPriceAlerts(
            {PriceAlert{QUuid::createUuid(), u"MSFT"_s, 45.72, PriceAlert::Direction::below, {}}});
        rig.prefs.setDesktopNotifications(true);
        rig.start();
        const auto quote = [](const char* symbol, double price, double close) {
            return Quote{QLatin1String(symbol), price, close, 0, 0, {}};
        };

        // The first refresh: NVDA, new and 3 % up, spikes before its record exists.
        rig.clock.runDue();
        QVERIFY(rig.source.pending);
        rig.source.answer({quote("MSFT", 45.73, 46), quote("NVDA", 103, 100)});
        QVERIFY(rig.delivered.wait(5000));
        QCOMPARE(received.last().summary, u"NVDA spiked +3.0 %"_s);
        QCOMPARE(received.last().body, u"+3.0 % against the previous close, now $103.00"_s);

        // The next one takes MSFT from 45.73 to 45.70, across the alert.
        rig.clock.advance(AppState::refreshPeriod);
        rig.state->refresh();
        QVERIFY(rig.source.pending);
        rig.source.answer({quote("MSFT", 45.70, 46), quote("NVDA", 103, 100)});
        QVERIFY(rig.delivered.wait(5000));
        QCOMPARE(received.size(), 2);
        QCOMPARE(received.last().summary, u"MSFT crossed below $45.72"_s);
        QCOMPARE(received.last().body, QString::fromUtf8("Now $45.70, \u22120.7 % today"));
        rig.clock.runDue();
        QCOMPARE(received.size(), 2); // sent once
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
