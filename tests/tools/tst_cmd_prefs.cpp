#include "commands.h"

#include "prefs/userpreferences.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using velline::UserPreferences;

namespace {

struct Run {
    int rc = -1;
    QStringList lines; // stdout, one entry per line
    QString err;
    QJsonObject state() const { return QJsonDocument::fromJson(lines.last().toUtf8()).object(); }
};

Run prefs(const QStringList& args) {
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    vellinectl::Io io{outStream, errStream};
    Run r;
    r.rc = vellinectl::dispatch(QStringList{"prefs"} + args, io);
    r.lines = out.split('\n', Qt::SkipEmptyParts);
    r.err = err;
    return r;
}

QString storePath() {
    return UserPreferences::openDefaultStore()->fileName();
}

QByteArray storeBytes() {
    QFile f(storePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCmdPrefs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QFile::remove(storePath()); }

    void printsDefaultsWithoutWriting() {
        const Run r = prefs({});
        QCOMPARE(r.rc, 0);
        QCOMPARE(r.lines.size(), 1);
        const QJsonObject s = r.state();
        QCOMPARE(s.keys(), (QStringList{"colorScheme", "desktopNotifications", "displayMode",
                                        "holdings", "priceAlerts", "recentlyAdded",
                                        "showFuturesAfterHours", "trackedSymbols"}));
        QCOMPARE(s.value("trackedSymbols").toArray().size(), 10);
        QCOMPARE(s.value("trackedSymbols").toArray().at(4).toString(), QStringLiteral("^GSPC"));
        QCOMPARE(s.value("displayMode").toString(), QStringLiteral("regular"));
        QCOMPARE(s.value("showFuturesAfterHours").toBool(), true);
        QCOMPARE(s.value("colorScheme").toObject(), QJsonObject());
        QCOMPARE(s.value("desktopNotifications").toBool(true), false);
        QVERIFY(!QFile::exists(storePath()));
    }

    void subCommandsChangeTheStoreAndPrintIt() {
        Run r = prefs({"add-symbol", " nvda "});
        QCOMPARE(r.rc, 0);
        QCOMPARE(r.lines.first(), QStringLiteral(R"({"symbol":"NVDA"})"));
        QCOMPARE(r.state().value("recentlyAdded").toArray(), QJsonArray{"NVDA"});

        r = prefs({"set-tracked", " aapl", "AAPL", "msft\t", ""});
        QCOMPARE(r.state().value("trackedSymbols").toArray(), (QJsonArray{"AAPL", "MSFT"}));

        prefs({"set-holding", "aapl", "12.5"});
        prefs({"set-holding", "msft", "3"});
        r = prefs({"set-holding", " aapl", "-1"});
        QCOMPARE(r.state().value("holdings").toArray(),
                 QJsonArray{(QJsonObject{{"symbol", "MSFT"}, {"shares", 3}})});
        r = prefs({"remove-holding", "msft"});
        QCOMPARE(r.state().value("holdings").toArray(), QJsonArray());

        r = prefs({"add-alert", "aapl", "190.5", "below"});
        QCOMPARE(r.rc, 0);
        const QJsonObject alert = r.state().value("priceAlerts").toArray().at(0).toObject();
        QCOMPARE(alert.keys(), (QStringList{"direction", "id", "price", "symbol"}));
        QCOMPARE(alert.value("symbol").toString(), QStringLiteral("AAPL"));
        QCOMPARE(alert.value("price").toDouble(), 190.5);
        const QString id = alert.value("id").toString();
        QVERIFY(id.size() == 36 && id == id.toUpper());
        r = prefs({"remove-alert", id.toLower()});
        QCOMPARE(r.state().value("priceAlerts").toArray(), QJsonArray());

        prefs({"set-display-mode", "compact2"});
        prefs({"set-futures", "false"});
        r = prefs({"set-notifications", "true"});
        QCOMPARE(r.state().value("displayMode").toString(), QStringLiteral("compact2"));
        QCOMPARE(r.state().value("showFuturesAfterHours").toBool(), false);
        QCOMPARE(r.state().value("desktopNotifications").toBool(), true);

        // every change is on disk: a plain read shows the same state
        QCOMPARE(prefs({}).lines, QStringList{r.lines.last()});
    }

    void wrongArgumentsExit64AndChangeNothing() {
        prefs({"set-holding", "AAPL", "1"});
        const QByteArray before = storeBytes();
        const QList<QStringList> bad{
            {"bogus"},
            {"add-symbol"},
            {"set-tracked"},
            {"set-holding", "AAPL", "nan"},
            {"set-holding", "AAPL", "1,5"},
            {"set-holding", " \t", "3"},
            {"remove-holding", " "},
            {"add-alert", "AAPL", "0", "above"},
            {"add-alert", "AAPL", "10", "up"},
            {"remove-alert", "not-a-uuid"},
            {"set-display-mode", "compactLogo"},
            {"set-futures", "TRUE"},
            {"set-notifications", "1"},
            // longer than the 12 characters every door of the app takes
            {"set-tracked", "AAPL", " abcdefghijklm"},
            {"set-holding", "ABCDEFGHIJKLM", "1"},
            {"add-alert", "ABCDEFGHIJKLM", "10", "above"},
        };
        for (const QStringList& args : bad) {
            const Run r = prefs(args);
            const QByteArray what = args.join(' ').toUtf8();
            QVERIFY2(r.rc == 64, what);
            QVERIFY2(r.lines.isEmpty(), what);
            QVERIFY2(r.err.startsWith("vellinectl prefs: "), what);
        }
        QCOMPARE(storeBytes(), before);

        // a blank add-symbol is not a usage error but prints nothing and fails
        const Run blank = prefs({"add-symbol", "  \t"});
        QCOMPARE(blank.rc, 1);
        QVERIFY(blank.lines.isEmpty());
        QCOMPARE(storeBytes(), before);

        // too long: nothing added either, and the reason is given
        const Run tooLong = prefs({"add-symbol", "abcdefghijklm"});
        QCOMPARE(tooLong.rc, 1);
        QVERIFY(tooLong.lines.isEmpty());
        QVERIFY(tooLong.err.contains("longer than 12 characters"));
        QCOMPARE(storeBytes(), before);
        QCOMPARE(prefs({"add-symbol", "abcdefghijkl"}).rc, 0);

        const Run help = prefs({"set-holding", "--help"});
        QCOMPARE(help.rc, 0);
        QVERIFY(help.lines.join('\n').contains("set-display-mode RAW"));
    }

    // A longer symbol already stored can still be kept, changed and removed from a script.
    void storedLongSymbolsStayChangeable() {
        const QString longSymbol(75, u'X');
        {
            const auto store = UserPreferences::openDefaultStore();
            UserPreferences stored(store.get());
            stored.setTrackedSymbols({"AAPL", longSymbol});
            stored.setHoldings({{longSymbol, 2}});
        }
        Run r = prefs({"set-tracked", longSymbol, "msft"});
        QCOMPARE(r.rc, 0);
        QCOMPARE(r.state().value("trackedSymbols").toArray(), (QJsonArray{longSymbol, "MSFT"}));
        r = prefs({"set-holding", longSymbol, "5"});
        QCOMPARE(r.rc, 0);
        QCOMPARE(r.state().value("holdings").toArray(),
                 QJsonArray{(QJsonObject{{"symbol", longSymbol}, {"shares", 5}})});
        r = prefs({"remove-holding", longSymbol});
        QCOMPARE(r.state().value("holdings").toArray(), QJsonArray());
        r = prefs({"set-tracked", "msft"});
        QCOMPARE(r.state().value("trackedSymbols").toArray(), QJsonArray{"MSFT"});
    }
};

QTEST_GUILESS_MAIN(TestCmdPrefs)
#include "tst_cmd_prefs.moc"
