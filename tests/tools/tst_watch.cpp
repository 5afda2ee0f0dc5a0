#include "clock/manualclock.h"
#include "cmd_watch.h"
#include "commands.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {
class InstantSource : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*,
                     std::function<void(QList<Quote>)> done) override {
        done(next);
    }
    QList<Quote> next;
};

QList<QJsonObject> lines(const QString& text) {
    QList<QJsonObject> out;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return out;
}
} // namespace

class TestWatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void printsEveryPublishedChangeAsOrderedJsonLines() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({"AAPL", "MSFT"});
        prefs.setShowFuturesAfterHours(false);
        prefs.addAlert("MSFT", 50, PriceAlert::Direction::above);
        InstantSource source;
        ManualClock clock(1704898800); // a Wednesday, 10:00 in New York
        AppState state(&prefs, &source, &clock, {});
        QString text;
        QTextStream out(&text);
        vellinectl::WatchPrinter printer(&state, &clock, out);

        source.next = {{"AAPL", 100, 100, 0, 0, {}}, {"MSFT", 49, 49, 0, 0, {}}};
        clock.runDue(); // the tracked list arrives and starts the first refresh
        clock.advance(400);
        source.next = {{"AAPL", 100, 100, 0, 0, {}}, {"MSFT", 50.5, 50, 0, 0, {}}};
        state.refresh();
        clock.advance(4);

        QVERIFY(text.startsWith(QLatin1String("{\"t\":1704898800,\"event\":\"stocks\",")));
        const QList<QJsonObject> events = lines(text);
        QStringList kinds;
        for (const QJsonObject& e : events)
            kinds << e.value("event").toString();
        QCOMPARE(kinds,
                 (QStringList{"stocks", "active", "alert", "active", "stocks", "alertCleared"}));
        const QJsonObject first = events.first().value("records").toArray().first().toObject();
        QCOMPARE(first.value("percentText").toString(), QStringLiteral("0.00%"));
        QVERIFY(first.value("lastSpikeAt").isNull());
        QCOMPARE(events.first().value("afterHours").toBool(true), false);
        QCOMPARE(events[1].value("symbol").toString(), QStringLiteral("AAPL"));
        QCOMPARE(events[1].value("direction").toString(), QStringLiteral("left"));
        const QJsonObject alert = events[2];
        QCOMPARE(alert.value("reason").toString(), QStringLiteral("priceCross"));
        QCOMPARE(alert.value("level").toDouble(), 50.0);
        QCOMPARE(alert.value("alertDirection").toString(), QStringLiteral("above"));
        QCOMPARE(alert.value("direction").toString(), QStringLiteral("up"));
        QCOMPARE(alert.value("id").toString().size(), 36);
        QCOMPARE(events.last().value("t").toDouble(), 1704898800 + 404.0);
    }

    void rejectsBadArguments() {
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        vellinectl::Io io{out, err};
        for (const QStringList& args :
             {QStringList{"watch", "--seconds", "0"}, QStringList{"watch", "--seconds=abc"},
              QStringList{"watch", "--seconds", "nan"}, QStringList{"watch", "--fast"}}) {
            QCOMPARE(vellinectl::dispatch(args, io), vellinectl::ExitUsage);
        }
        QVERIFY(outText.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
