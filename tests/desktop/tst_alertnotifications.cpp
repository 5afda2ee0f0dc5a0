// The texts of alert notifications and their way to a notification server, on a private session
// bus that starts no installed service: a fake org.freedesktop.Notifications first, then dunst
// (Debian's package) on the test's own X server, whose history keeps what it was sent.
#include "clock/manualclock.h"
#include "desktop/alertnotifications.h"
#include "desktop/desktopnotifier.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace velline;
using namespace Qt::StringLiterals;
using OptionalStock = std::optional<Stock>;
Q_DECLARE_METATYPE(OptionalStock)
using Direction = PriceAlert::Direction;

namespace {

constexpr double t0 = 1704898800;

Stock record(double price, double close, QList<PricePoint> history = {},
             QList<PricePoint> bars = {}) {
    Stock s;
    s.symbol = u"NVDA"_s;
    s.price = price;
    s.previousClose = close;
    s.history = std::move(history);
    s.intraday = std::move(bars);
    return s;
}

// A spike of the symbol or, given a level, its crossing of that level.
AlertEvent alertOf(const QString& symbol, double level = 0,
                   Direction direction = Direction::below) {
    AlertEvent e;
    e.id = QUuid::createUuid();
    e.symbol = symbol;
    e.reason =
        level ? AlertEvent::Reason::priceCross(level, direction) : AlertEvent::Reason::spike();
    return e;
}

// Four bars whose latest three trade `recent` against 100 before them.
QList<PricePoint> volumeBars(double recent) {
    return {
        {t0, 100, 100}, {t0 + 300, 100, recent}, {t0 + 600, 100, recent}, {t0 + 900, 100, recent}};
}

void row(const char* name, const AlertEvent& event, const OptionalStock& stock, const char* summary,
         const char* body) {
    QTest::newRow(name) << event << stock << QString::fromUtf8(summary) << QString::fromUtf8(body);
}

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Answers each refresh with the quotes the test hands it, or never.
struct ScriptedQuotes : QuoteSource {
    void fetchQuotes(const QStringList&, QObject*,
                     std::function<void(QList<Quote>)> done) override {
        pending = std::move(done);
    }
    void answer(const QList<Quote>& quotes) { std::exchange(pending, nullptr)(quotes); }
    std::function<void(QList<Quote>)> pending;
};

// Answers Notify with increasing ids, as a notification server does, on a connection of its own
// so every call goes through the bus daemon. Keeps what it was sent: replaced id, summary, body.
class FakeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeServer() : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"server"_s)) {
        registered =
            bus.registerObject(DesktopNotifier::kPath, this, QDBusConnection::ExportAllSlots) &&
            bus.registerService(DesktopNotifier::kService);
    }
    ~FakeServer() override {
        bus.unregisterService(DesktopNotifier::kService);
        QDBusConnection::disconnectFromBus(u"server"_s);
    }
    QDBusConnection bus;
    bool registered = false;
    bool fromVelline = true; // every sender's name and desktop entry
    QList<QStringList> received;
    uint nextId = 41;

public Q_SLOTS:
    uint Notify(const QString& app, uint replacesId, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& /*actions*/,
                const QVariantMap& hints, int /*timeout*/) {
        fromVelline &= app == "Velline"_L1 && hints.contains(u"desktop-entry"_s);
        received.append({QString::number(replacesId), summary, body});
        return replacesId ? replacesId : ++nextId;
    }
};

} // namespace

class TestAlertNotifications : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void texts_data() {
        QTest::addColumn<AlertEvent>("event");
        QTest::addColumn<OptionalStock>("stock");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("body");
        const QString msft = u"MSFT"_s;
        const AlertEvent spike = alertOf(u"NVDA"_s);

        // A crossing tells the price that crossed (the refresh test below checks it is the
        // refreshed one).
        row("cross ending on the level", alertOf(msft, 188, Direction::above), record(188, 186),
            "MSFT crossed above $188.00", "Now $188.00, +1.1 % today");
        row("cross without a close", alertOf(msft, 187.5, Direction::above), record(187.6, 0),
            "MSFT crossed above $187.50", "Now $187.60");
        row("cross, record gone", alertOf(msft, 45.72), {}, "MSFT crossed below $45.72",
            "Your price alert at $45.72");

        // A spike names the rule it met, in the order the spike check tries them.
        row("day move at its threshold", spike, record(98, 100), "NVDA spiked \u22122.0 %",
            "\u22122.0 % against the previous close, now $98.00");
        row("day move beats a fast window", spike,
            record(103, 100, {{t0, 100, 0}, {t0 + 60, 103, 0}}), "NVDA spiked +3.0 %",
            "+3.0 % against the previous close, now $103.00");
        row("window move over exactly 5 minutes", spike,
            record(101, 100.5, {{t0, 100, 0}, {t0 + 300, 101, 0}}), "NVDA spiked +1.0 %",
            "+1.0 % in 5 minutes, now $101.00 (+0.5 % today)");
        row("volume at its threshold", spike, record(100.2, 100, {}, volumeBars(300)),
            "NVDA spiked on volume",
            "Volume 3.0 \u00d7 the day's average, now $100.20 (+0.2 % today)");
        row("volume just under its threshold", spike, record(100.2, 100, {}, volumeBars(299)),
            "NVDA spiked", "Now $100.20 (+0.2 % today)");
        row("spike, record gone", spike, {}, "NVDA spiked", "A sharp move or unusual volume");
        row("spike, price not a number", spike, record(qQNaN(), 100), "NVDA spiked",
            "A sharp move or unusual volume");
    }

    void texts() {
        QFETCH(AlertEvent, event);
        QFETCH(OptionalStock, stock);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        const AlertNotificationText text = alertNotificationText(event, stock);
        QCOMPARE(text.summary, summary);
        QCOMPARE(text.body, body);
    }

    void alertEventsReachTheServerOnceAndReplaceEachOther() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"Velline.ini"_s), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({u"MSFT"_s, u"NVDA"_s});
        prefs.setPriceAlerts(
            {PriceAlert{QUuid::createUuid(), u"MSFT"_s, 45.72, Direction::below, {}}});
        ManualClock clock(t0);
        ScriptedQuotes source;
        AppState state(&prefs, &source, &clock, [](const QString&) {});
        DesktopNotifier notifier;
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        AlertNotifications notifications(&state, &prefs, &notifier);

        // Without a server the notifier is refused, and keeps no id to replace.
        QSignalSpy refused(&notifier, &DesktopNotifier::refused);
        notifier.notify(u"AAPL crossed above $188.00"_s, QString());
        QVERIFY(refused.wait(5000));
        QCOMPARE(delivered.size(), 0);
        FakeServer server;
        QVERIFY(server.registered);
        const QList<QStringList>& received = server.received;
        const auto quote = [](const char* symbol, double price, double close) {
            return Quote{QLatin1String(symbol), price, close, 0, 0, {}};
        };

        // Off by default: nothing is sent.
        state.fireAlert(alertOf(u"AAPL"_s, 188, Direction::above));
        clock.runDue();
        prefs.setDesktopNotifications(true);

        // A refresh tells the price it fired on: NVDA, new and 3 % up, spikes before its record
        // exists; the next refresh takes MSFT from 45.73 to 45.70, across the alert.
        QVERIFY(source.pending);
        source.answer({quote("MSFT", 45.73, 46), quote("NVDA", 103, 100)});
        QVERIFY(delivered.wait(5000));
        clock.advance(AppState::refreshPeriod);
        state.refresh();
        QVERIFY(source.pending);
        source.answer({quote("MSFT", 45.70, 46), quote("NVDA", 103, 100)});
        QVERIFY(delivered.wait(5000));
        clock.runDue(); // sent once
        QCOMPARE(received,
                 (QList<QStringList>{
                     {"0", "NVDA spiked +3.0 %", "+3.0 % against the previous close, now $103.00"},
                     {"42", "MSFT crossed below $45.72",
                      QString::fromUtf8("Now $45.70, \u22120.7 % today")}}));

        // An event outside a refresh goes out on the next turn, once: not again when published
        // again, not when cleared before its turn or fired while switched off.
        const AlertEvent spike = alertOf(u"NVDA"_s);
        state.fireAlert(spike);
        QCOMPARE(received.size(), 2);
        clock.runDue();
        QVERIFY(delivered.wait(5000));
        state.fireAlert(spike);
        clock.advance(AppState::alertDisplayTime); // the event is cleared: nothing to send
        QCOMPARE(state.alertEvent(), std::nullopt);
        prefs.setDesktopNotifications(false);
        state.fireAlert(alertOf(u"NVDA"_s));
        clock.runDue();
        prefs.setDesktopNotifications(true);
        state.fireAlert(alertOf(u"MSFT"_s, 400));
        clock.runDue();
        QVERIFY(delivered.wait(5000));
        QCOMPARE(received.size(), 4);
        QCOMPARE(received[2].mid(0, 2), (QStringList{"42", "NVDA spiked +3.0 %"}));
        QCOMPARE(received[3].mid(0, 2), (QStringList{"42", "MSFT crossed below $400.00"}));

        // Three before the first answer: the first goes out, only the newest follows it, and
        // replaces it.
        DesktopNotifier quick;
        QSignalSpy answered(&quick, &DesktopNotifier::delivered);
        for (const QString& summary : {u"one"_s, u"two"_s, u"three"_s})
            quick.notify(summary, QString());
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 5000);
        QCOMPARE(received.mid(4), (QList<QStringList>{{"0", "one", ""}, {"43", "three", ""}}));
        QVERIFY(server.fromVelline);
    }

    void textsReachDunst() {
        if (QStandardPaths::findExecutable(u"dunst"_s).isEmpty())
            QSKIP("dunst is not installed (scripts/install-deps.sh installs it)");
        QProcess dunst;
        dunst.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dunst.start(u"dunst"_s, {});
        QVERIFY(dunst.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     DesktopNotifier::kService),
                                 10000);

        // The spike replaces the crossing on screen: one Velline notification at a time.
        DesktopNotifier notifier;
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        const AlertNotificationText cross =
            alertNotificationText(alertOf(u"MSFT"_s, 45.72), record(45.7, 46));
        const AlertNotificationText spike =
            alertNotificationText(alertOf(u"NVDA"_s), record(103, 100));
        for (const AlertNotificationText& text : {cross, spike}) {
            notifier.notify(text.summary, text.body);
            QVERIFY(delivered.wait(10000));
            QTRY_COMPARE_WITH_TIMEOUT(run(u"dunstctl"_s, {"count", "displayed"}), u"1"_s, 10000);
        }
        // Its history, once closed, has the spike alone: the crossing was replaced, not piled up.
        run(u"dunstctl"_s, {"close-all"});
        QTRY_VERIFY_WITH_TIMEOUT(run(u"dunstctl"_s, {"history"}).contains(spike.body), 10000);
        const QString history = run(u"dunstctl"_s, {"history"});
        QVERIFY(history.contains(spike.summary) && history.contains("\"Velline\""_L1));
        QVERIFY(!history.contains(cross.summary));
        dunst.terminate();
        dunst.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestAlertNotifications)
#include "tst_alertnotifications.moc"
