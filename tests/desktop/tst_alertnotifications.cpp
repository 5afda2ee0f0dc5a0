// The texts of alert notifications, from the record the refresh that fired them published, and
// their way to a real notification server: dunst (Debian's package) on the test's private X
// server and session bus, whose history keeps what it was sent.
#include "desktop/alertnotifications.h"
#include "desktop/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

using namespace velline;

namespace {

constexpr double t0 = 1704898800;

Stock record(double price, double close, QList<PricePoint> history = {},
             QList<PricePoint> bars = {}) {
    Stock s;
    s.symbol = QStringLiteral("NVDA");
    s.price = price;
    s.previousClose = close;
    s.history = std::move(history);
    s.intraday = std::move(bars);
    return s;
}

AlertEvent alertOf(const QString& symbol, std::optional<AlertEvent::Reason> cross = std::nullopt) {
    AlertEvent e;
    e.symbol = symbol;
    e.reason = cross.value_or(AlertEvent::Reason::spike());
    return e;
}

AlertEvent::Reason below(double level) {
    return AlertEvent::Reason::priceCross(level, PriceAlert::Direction::below);
}

// Four bars whose latest three trade `recent` against 100 before them.
QList<PricePoint> volumeBars(double recent) {
    return {
        {t0, 100, 100}, {t0 + 300, 100, recent}, {t0 + 600, 100, recent}, {t0 + 900, 100, recent}};
}

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// dunstctl history: {"data": [[{"summary": {"data": "…"}, "body": {…}, "appname": {…}}, …]]}
QList<QStringList> history() {
    const QJsonObject root =
        QJsonDocument::fromJson(run(QStringLiteral("dunstctl"), {"history"}).toUtf8()).object();
    QList<QStringList> entries;
    for (const QJsonValue& item : root.value(QLatin1String("data")).toArray().at(0).toArray()) {
        const QJsonObject o = item.toObject();
        const auto field = [&](const char* name) {
            return o.value(QLatin1String(name)).toObject().value(QLatin1String("data")).toString();
        };
        entries.append({field("appname"), field("summary"), field("body")});
    }
    return entries;
}

} // namespace

using Event = AlertEvent;
using OptionalStock = std::optional<Stock>;
Q_DECLARE_METATYPE(OptionalStock)

class TestAlertNotifications : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void texts_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<OptionalStock>("stock");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("body");
        const auto above = [](double level) {
            return AlertEvent::Reason::priceCross(level, PriceAlert::Direction::above);
        };
        const QString msft = QStringLiteral("MSFT");
        const QString nvda = QStringLiteral("NVDA");

        // A crossing tells the price that crossed, never one from before the refresh.
        QTest::newRow("cross below")
            << alertOf(msft, below(45.72)) << OptionalStock(record(45.70, 46))
            << "MSFT crossed below $45.72" << QString::fromUtf8("Now $45.70, \u22120.7 % today");
        QTest::newRow("cross ending on the level")
            << alertOf(msft, above(188)) << OptionalStock(record(188, 186))
            << "MSFT crossed above $188.00"
            << "Now $188.00, +1.1 % today";
        QTest::newRow("cross without a close")
            << alertOf(msft, above(187.5)) << OptionalStock(record(187.6, 0))
            << "MSFT crossed above $187.50"
            << "Now $187.60";
        QTest::newRow("cross, record gone")
            << alertOf(msft, below(45.72)) << OptionalStock() << "MSFT crossed below $45.72"
            << "Your price alert at $45.72";

        // A spike names the rule it met, in the order the spike check tries them.
        QTest::newRow("day move at its threshold")
            << alertOf(nvda) << OptionalStock(record(98, 100))
            << QString::fromUtf8("NVDA spiked \u22122.0 %")
            << QString::fromUtf8("\u22122.0 % against the previous close, now $98.00");
        QTest::newRow("day move beats a fast window")
            << alertOf(nvda) << OptionalStock(record(103, 100, {{t0, 100, 0}, {t0 + 60, 103, 0}}))
            << "NVDA spiked +3.0 %"
            << "+3.0 % against the previous close, now $103.00";
        QTest::newRow("window move over exactly 5 minutes")
            << alertOf(nvda)
            << OptionalStock(record(101, 100.5, {{t0, 100, 0}, {t0 + 300, 101, 0}}))
            << "NVDA spiked +1.0 %"
            << "+1.0 % in 5 minutes, now $101.00 (+0.5 % today)";
        QTest::newRow("window move older than 5 minutes is none")
            << alertOf(nvda)
            << OptionalStock(record(101, 100.5, {{t0, 100, 0}, {t0 + 301, 101, 0}}))
            << "NVDA spiked"
            << "Now $101.00 (+0.5 % today)";
        QTest::newRow("volume at its threshold")
            << alertOf(nvda) << OptionalStock(record(100.2, 100, {}, volumeBars(300)))
            << "NVDA spiked on volume"
            << QString::fromUtf8("Volume 3.0 \u00d7 the day's average, now $100.20 (+0.2 % today)");
        QTest::newRow("volume just under its threshold")
            << alertOf(nvda) << OptionalStock(record(100.2, 100, {}, volumeBars(299)))
            << "NVDA spiked"
            << "Now $100.20 (+0.2 % today)";
        QTest::newRow("spike, record gone") << alertOf(nvda) << OptionalStock() << "NVDA spiked"
                                            << "A sharp move or unusual volume";
        QTest::newRow("spike, price not a number")
            << alertOf(nvda) << OptionalStock(record(qQNaN(), 100)) << "NVDA spiked"
            << "A sharp move or unusual volume";
    }

    void texts() {
        QFETCH(Event, event);
        QFETCH(OptionalStock, stock);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        const AlertNotificationText text = alertNotificationText(event, stock);
        QCOMPARE(text.summary, summary);
        QCOMPARE(text.body, body);
    }

    void textsReachDunst() {
        if (QStandardPaths::findExecutable(QStringLiteral("dunst")).isEmpty())
            QSKIP("dunst is not installed (scripts/install-deps.sh installs it)");
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QProcess dunst;
        dunst.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dunst.start(QStringLiteral("dunst"), {});
        QVERIFY(dunst.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     DesktopNotifier::kService),
                                 10000);

        DesktopNotifier notifier;
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        const AlertNotificationText cross =
            alertNotificationText(alertOf(QStringLiteral("MSFT"), below(45.72)), record(45.7, 46));
        notifier.notify(cross.summary, cross.body);
        QVERIFY(delivered.wait(10000));
        QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("dunstctl"), {"count", "displayed"}),
                                  QStringLiteral("1"), 10000);
        // The spike replaces the crossing on screen: one Velline notification at a time.
        const AlertNotificationText spike =
            alertNotificationText(alertOf(QStringLiteral("NVDA")), record(103, 100));
        notifier.notify(spike.summary, spike.body);
        QVERIFY(delivered.wait(10000));
        if (!qEnvironmentVariableIsEmpty("VELLINE_DUNST_SHOT"))
            run(QStringLiteral("import"),
                {"-window", "root", qEnvironmentVariable("VELLINE_DUNST_SHOT")});

        run(QStringLiteral("dunstctl"), {"close-all"});
        QTRY_VERIFY_WITH_TIMEOUT(!history().isEmpty(), 10000);
        // The crossing was replaced, not piled up.
        QCOMPARE(history(), (QList<QStringList>{{"Velline", spike.summary, spike.body}}));
        dunst.terminate();
        dunst.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestAlertNotifications)
#include "tst_alertnotifications.moc"
