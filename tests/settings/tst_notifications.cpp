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

using namespace velline;

namespace {

class NoQuotes : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
};

// Answers each refresh with the quotes the test hands it.
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
    uint Notify(const QString& app, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        Q_UNUSED(icon)
        Q_UNUSED(actions)
        Q_UNUSED(timeout)
        received.append({app, replacesId, summary, body, hints});
        Q_EMIT notified();
        return replacesId ? replacesId : ++nextId;
    }

Q_SIGNALS:
    void notified();
};

AlertEvent priceCross(const QString& symbol, double level, PriceAlert::Direction direction) {
    AlertEvent event;
    event.id = QUuid::createUuid();
    event.symbol = symbol;
    event.reason = AlertEvent::Reason::priceCross(level, direction);
    return event;
}

AlertEvent spike(const QString& symbol) {
    AlertEvent event;
    event.id = QUuid::createUuid();
    event.symbol = symbol;
    return event;
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void withoutAServiceNothingHappens();
    void alertEventsReachTheServerAndReplaceEachOther();
    void quickSuccessionStillReplaces();
    void aRefreshTellsThePriceThatFired();
};

void TestNotifications::initTestCase() {
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus: run under dbus-run-session");
}

void TestNotifications::withoutAServiceNothingHappens() {
    QVERIFY(
        !QDBusConnection::sessionBus().interface()->isServiceRegistered(DesktopNotifier::kService));
    DesktopNotifier notifier;
    QSignalSpy refused(&notifier, &DesktopNotifier::refused);
    QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
    notifier.notify(QStringLiteral("AAPL crossed above $188.00"), QString());
    QVERIFY(refused.wait(5000));
    QCOMPARE(delivered.size(), 0);
    QCOMPARE(notifier.lastId(), 0u);
}

void TestNotifications::alertEventsReachTheServerAndReplaceEachOther() {
    // The server lives on a connection of its own, so every call goes through the bus daemon.
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    FakeServer server;
    QVERIFY(
        serverBus.registerObject(DesktopNotifier::kPath, &server, QDBusConnection::ExportAllSlots));
    QVERIFY(serverBus.registerService(DesktopNotifier::kService));

    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("Velline.ini")), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    ManualClock clock(1704898800);
    NoQuotes source;
    AppState state(&prefs, &source, &clock, [](const QString&) {});
    Stock nvda;
    nvda.symbol = QStringLiteral("NVDA");
    nvda.previousClose = 100;
    nvda.price = 96.9;
    state.setStocks({nvda});
    DesktopNotifier notifier;
    AlertNotifications notifications(&state, &prefs, &notifier);
    QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);

    // Off by default: nothing is sent. An event outside a refresh goes out on the next turn.
    state.fireAlert(priceCross(QStringLiteral("AAPL"), 188, PriceAlert::Direction::above));
    clock.runDue();
    prefs.setDesktopNotifications(true);
    state.fireAlert(priceCross(QStringLiteral("AAPL"), 188, PriceAlert::Direction::above));
    QCOMPARE(server.received.size(), 0);
    clock.runDue();
    QVERIFY(delivered.wait(5000));
    QCOMPARE(server.received.size(), 1);
    QCOMPARE(server.received[0].app, QStringLiteral("Velline"));
    QCOMPARE(server.received[0].replacesId, 0u);
    QCOMPARE(server.received[0].summary, QStringLiteral("AAPL crossed above $188.00"));
    QVERIFY(server.received[0].hints.contains(QStringLiteral("desktop-entry")));
    QCOMPARE(notifier.lastId(), 42u);

    // The same event published again is not sent again; the next one replaces the first.
    const AlertEvent nvdaSpike = spike(QStringLiteral("NVDA"));
    state.fireAlert(nvdaSpike);
    clock.runDue();
    QVERIFY(delivered.wait(5000));
    state.fireAlert(nvdaSpike);
    clock.advance(AppState::alertDisplayTime); // the event is cleared: nothing to send
    QCOMPARE(state.alertEvent(), std::nullopt);
    prefs.setDesktopNotifications(false);
    state.fireAlert(spike(QStringLiteral("NVDA")));
    clock.runDue();
    prefs.setDesktopNotifications(true);
    state.fireAlert(priceCross(QStringLiteral("MSFT"), 400, PriceAlert::Direction::below));
    clock.runDue();
    QVERIFY(delivered.wait(5000));
    QCOMPARE(server.received.size(), 3);
    QCOMPARE(server.received[1].replacesId, 42u);
    QCOMPARE(server.received[1].summary, QString::fromUtf8("NVDA spiked \u22123.1 %"));
    QCOMPARE(server.received[1].body,
             QString::fromUtf8("\u22123.1 % against the previous close, now $96.90"));
    QCOMPARE(server.received[2].replacesId, 42u);
    QCOMPARE(server.received[2].summary, QStringLiteral("MSFT crossed below $400.00"));

    serverBus.unregisterService(DesktopNotifier::kService);
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
}

void TestNotifications::quickSuccessionStillReplaces() {
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server2"));
    FakeServer server;
    QVERIFY(
        serverBus.registerObject(DesktopNotifier::kPath, &server, QDBusConnection::ExportAllSlots));
    QVERIFY(serverBus.registerService(DesktopNotifier::kService));

    DesktopNotifier notifier;
    QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
    // Three before the first answer: the first goes out, only the newest follows it.
    notifier.notify(QStringLiteral("one"), QString());
    notifier.notify(QStringLiteral("two"), QString());
    notifier.notify(QStringLiteral("three"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 2, 5000);
    QCOMPARE(server.received.size(), 2);
    QCOMPARE(server.received[0].summary, QStringLiteral("one"));
    QCOMPARE(server.received[1].summary, QStringLiteral("three"));
    QCOMPARE(server.received[1].replacesId, 42u);

    serverBus.unregisterService(DesktopNotifier::kService);
    QDBusConnection::disconnectFromBus(QStringLiteral("server2"));
}

void TestNotifications::aRefreshTellsThePriceThatFired() {
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server3"));
    FakeServer server;
    QVERIFY(
        serverBus.registerObject(DesktopNotifier::kPath, &server, QDBusConnection::ExportAllSlots));
    QVERIFY(serverBus.registerService(DesktopNotifier::kService));

    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("Velline.ini")), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    prefs.setTrackedSymbols({QStringLiteral("MSFT"), QStringLiteral("NVDA")});
    PriceAlert alert;
    alert.id = QUuid::createUuid();
    alert.symbol = QStringLiteral("MSFT");
    alert.price = 45.72;
    alert.direction = PriceAlert::Direction::below;
    prefs.setPriceAlerts({alert});
    prefs.setDesktopNotifications(true);
    ManualClock clock(1704898800);
    ScriptedQuotes source;
    AppState state(&prefs, &source, &clock, [](const QString&) {});
    DesktopNotifier notifier;
    AlertNotifications notifications(&state, &prefs, &notifier);
    QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
    const auto quote = [](const char* symbol, double price, double close) {
        return Quote{QLatin1String(symbol), price, close, 0, 0, {}};
    };

    // The first refresh: NVDA, new and 3 % up, spikes before its record exists.
    clock.runDue();
    QVERIFY(source.pending);
    source.answer({quote("MSFT", 45.73, 46), quote("NVDA", 103, 100)});
    QVERIFY(delivered.wait(5000));
    QCOMPARE(server.received.last().summary, QStringLiteral("NVDA spiked +3.0 %"));
    QCOMPARE(server.received.last().body,
             QStringLiteral("+3.0 % against the previous close, now $103.00"));

    // The next one takes MSFT from 45.73 to 45.70, across the alert.
    clock.advance(AppState::refreshPeriod);
    state.refresh();
    QVERIFY(source.pending);
    source.answer({quote("MSFT", 45.70, 46), quote("NVDA", 103, 100)});
    QVERIFY(delivered.wait(5000));
    QCOMPARE(server.received.size(), 2);
    QCOMPARE(server.received.last().summary, QStringLiteral("MSFT crossed below $45.72"));
    QCOMPARE(server.received.last().body, QString::fromUtf8("Now $45.70, \u22120.7 % today"));
    clock.runDue();
    QCOMPARE(server.received.size(), 2); // sent once

    serverBus.unregisterService(DesktopNotifier::kService);
    QDBusConnection::disconnectFromBus(QStringLiteral("server3"));
}

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
