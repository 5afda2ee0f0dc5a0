#include "prefs/records.h"
#include "prefs/userpreferences.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <limits>

Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A settings file in a private folder, reopened the way a restart would.
struct Store {
    QTemporaryDir dir;
    int generation = 0;
    QString path = dir.filePath("Velline.conf");
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<UserPreferences> prefs;

    Store() { restart(); }
    explicit Store(const QByteArray& iniText) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(iniText) != iniText.size())
            qFatal("cannot write %s", qPrintable(path));
        f.close();
        restart();
    }
    // QSettings keeps parsed files cached per path within a process, so a restart moves the
    // file to a new name to make the next QSettings really parse it.
    void restart() {
        prefs.reset();
        settings.reset();
        const QString next = dir.filePath(QStringLiteral("Velline-%1.conf").arg(++generation));
        if (QFile::exists(path) && !QFile::rename(path, next))
            qFatal("cannot move %s", qPrintable(path));
        path = next;
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        prefs = std::make_unique<UserPreferences>(settings.get());
    }
    QByteArray fileBytes() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QJsonObject storedAlert(int i) const {
        const QByteArray blob = settings->value("priceAlerts_v1").toByteArray();
        return QJsonDocument::fromJson(blob).array().at(i).toObject();
    }
};

// Counts every change signal of the preferences.
struct Changes : QObject {
    int total = 0;
    explicit Changes(UserPreferences* p) {
        for (auto signal :
             {&UserPreferences::trackedSymbolsChanged, &UserPreferences::priceAlertsChanged,
              &UserPreferences::holdingsChanged, &UserPreferences::recentlyAddedChanged,
              &UserPreferences::displayModeChanged, &UserPreferences::showFuturesAfterHoursChanged,
              &UserPreferences::colorSchemeChanged})
            connect(p, signal, this, [this] { ++total; });
    }
};

auto everything(const UserPreferences& p) {
    return std::make_tuple(p.trackedSymbols(), p.priceAlerts(), p.holdings(), p.recentlyAdded(),
                           p.displayMode(), p.showFuturesAfterHours(), p.colorScheme());
}

} // namespace

class TestUserPreferences : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartUsesDefaultsAndWritesNothing() {
        Store s;
        const UserPreferences& p = *s.prefs;
        QCOMPARE(p.trackedSymbols(), (QStringList{"AVGO", "AAPL", "META", "MSFT", "^GSPC", "LMT",
                                                  "NVDA", "IBM", "MDB", "PLTR"}));
        QVERIFY(p.priceAlerts().isEmpty() && p.holdings().isEmpty() && p.recentlyAdded().isEmpty());
        QCOMPARE(p.displayMode(), DisplayMode::regular);
        QVERIFY(p.showFuturesAfterHours());
        QCOMPARE(p.colorScheme(), ColorSchemePrefs());
        s.restart();
        QVERIFY(!QFile::exists(s.path));

        s.prefs->setShowFuturesAfterHours(false); // writes only its own key
        QCOMPARE(s.settings->allKeys(), QStringList{"showFuturesAfterHours_v1"});
        QVERIFY(s.fileBytes().contains("showFuturesAfterHours_v1=false"));
    }

    void everyPropertySurvivesARestartExactly() {
        // 0, 1 and 2 entries: IniFormat writes each list size differently.
        for (const QStringList& list :
             {QStringList{}, QStringList{"^GSPC"}, QStringList{"BRK.B", "ÄÖÜ, INC"}}) {
            Store s;
            UserPreferences& p = *s.prefs;
            p.setTrackedSymbols(list);
            p.setRecentlyAdded(list);
            const PriceAlert alert{QUuid::createUuid(), "日本株", 0.1 + 0.2,
                                   PriceAlert::Direction::below, 1700000000.123};
            p.setPriceAlerts({alert, PriceAlert{QUuid::createUuid(), "Q\"\\Z", 5,
                                                PriceAlert::Direction::above, std::nullopt}});
            p.setHoldings({Holding{"AAPL", 12.5}, Holding{"Ω@ByteArray(", 1e-9}});
            p.setDisplayMode(DisplayMode::compactLogo);
            p.setShowFuturesAfterHours(false);
            p.setColorScheme(
                {RGBColor{0.1, 0.2, 0.3}, std::nullopt, std::nullopt, RGBColor{1, 0, 1.0 / 3}});

            const auto before = everything(p);
            s.restart();
            QVERIFY(everything(*s.prefs) == before);
            QVERIFY(s.fileBytes().contains("displayMode_v1=compact2"));
            QCOMPARE(s.storedAlert(0).value("id").toString(), alert.idText());
            QCOMPARE(s.storedAlert(0).value("lastTriggered").toDouble(), 721692800.123);
            QVERIFY(!s.storedAlert(1).contains("lastTriggered"));
        }
    }

    void corruptValuesFallBackOneByOne() {
        // Every key holds garbage of some kind: all of them fall back, start-up goes on.
        Store bad(QByteArrayLiteral(
            "[General]\n"
            "trackedSymbols_v2=@Rect(1 2 3 4)\n"
            "priceAlerts_v1=@ByteArray([{\"symbol\":\"A\",\"price\":1,\"direction\":\"above\"}])\n"
            "holdings_v1=@ByteArray(\\xff\\xfe not json)\n"
            "recentlyAdded_v1=AAPL, @Size(1 2)\n"
            "displayMode_v1=compactLogo\n"
            "showFuturesAfterHours_v1=0\n"
            "colorScheme_v1=@ByteArray({\"equityUp\":{\"red\":\"1\",\"green\":0,\"blue\":0}})\n"
            "\x01\x02\xff garbage line\n"));
        QVERIFY(everything(*bad.prefs) == everything(*Store().prefs));

        // Good values next to bad ones still load; an unclean tracked list is taken as stored,
        // and loading writes nothing.
        const QByteArray mixedText = QByteArrayLiteral(
            "[General]\n"
            "trackedSymbols_v2=aapl, aapl, \" msft\"\n"
            "priceAlerts_v1=not a blob\n"
            "holdings_v1=\"@ByteArray([{\\\"symbol\\\":\\\"IBM\\\",\\\"shares\\\":3}])\"\n"
            "recentlyAdded_v1=\n"
            "displayMode_v1=doNotDisturb\n"
            "showFuturesAfterHours_v1=false\n");
        Store mixed(mixedText);
        QVERIFY(everything(*mixed.prefs) ==
                std::make_tuple(QStringList{"aapl", "aapl", " msft"}, QList<PriceAlert>(),
                                QList<Holding>{{"IBM", 3}}, QStringList(),
                                DisplayMode::doNotDisturb, false, ColorSchemePrefs()));
        mixed.restart();
        QCOMPARE(mixed.fileBytes(), mixedText);
    }

    void everyAssignmentNotifiesAndTrackedIsCleanedTwice() {
        Store s;
        UserPreferences& p = *s.prefs;
        QList<QStringList> seen;
        connect(&p, &UserPreferences::trackedSymbolsChanged, this,
                [&] { seen.append(p.trackedSymbols()); });
        p.setTrackedSymbols({" aapl", "AAPL", "", "msft\t"});
        QCOMPARE(seen, (QList<QStringList>{{" aapl", "AAPL", "", "msft\t"}, {"AAPL", "MSFT"}}));
        QCOMPARE(s.settings->value("trackedSymbols_v2").toStringList(),
                 (QStringList{"AAPL", "MSFT"}));

        // A clean list is published once; a display mode text that is not stored is ignored.
        Changes spy(&p);
        p.setTrackedSymbols(p.trackedSymbols());
        p.setDisplayModeRaw("compactLogo");
        QCOMPARE(spy.total, 1);
    }

    void addSymbolNormalisesAndKeepsRecentsShort() {
        QCOMPARE(normalizeSymbol("straße"), QStringLiteral("STRASSE"));
        QCOMPARE(normalizeSymbol(QStringLiteral("\u00a0brk b\u3000\t")), QStringLiteral("BRK B"));
        QCOMPARE(normalizeSymbol("\naapl\r\n"), QStringLiteral("\nAAPL\r\n"));

        Store s;
        UserPreferences& p = *s.prefs;
        const QStringList tracked = p.trackedSymbols();
        QCOMPARE(p.addSymbol("  nvda  "), std::optional<QString>("NVDA"));
        QCOMPARE(p.trackedSymbols(), tracked);
        QCOMPARE(p.recentlyAdded(), QStringList{"NVDA"});

        Changes spy(&p);
        QCOMPARE(p.addSymbol(" \t "), std::nullopt);
        QCOMPARE(spy.total, 0);

        for (const char* sym : {"a", "b", "c", "d", "e", "f", "c"})
            p.addSymbol(sym);
        QCOMPARE(p.trackedSymbols().mid(10), (QStringList{"A", "B", "C", "D", "E", "F"}));
        s.restart();
        QCOMPARE(s.prefs->recentlyAdded(), (QStringList{"C", "F", "E", "D", "B", "A"}));
    }

    // New entries take symbols of at most 12 characters, counted after normalising.
    void newEntriesTakeAtMostTwelveCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("12") << "abcdefghij.t" << true;
        QTest::newRow("12 with spaces around") << "  ABCDEFGHIJKL\t" << true;
        QTest::newRow("13") << "ABCDEFGHIJKLM" << false;
        // "ß" upper-cases to "SS": eleven typed characters become thirteen.
        QTest::newRow("13 once upper-cased") << "STRAßEABCDEF" << false;
        QTest::newRow("75") << QString(75, u'X') << false;
    }
    void newEntriesTakeAtMostTwelveCharacters() {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        Store s;
        UserPreferences& p = *s.prefs;
        const QString symbol = normalizeSymbol(text);
        QCOMPARE(p.addSymbol(text).has_value(), taken);
        QCOMPARE(p.trackedSymbols().contains(symbol), taken);
        QCOMPARE(p.addAlert(text, 10, PriceAlert::Direction::above).has_value(), taken);
        p.setHolding(text, 3);
        QCOMPARE(p.holdings().size(), taken ? 1 : 0);
    }

    // A longer symbol already in the file (an older version, an edit by hand) stays, and can be
    // changed and removed like any other.
    void storedLongSymbolsStayAndCanBeRemoved() {
        const QString sym(75, u'X');
        Store s("[General]\ntrackedSymbols_v2=AAPL, " + sym.toLatin1() + "\n");
        s.prefs->setHoldings({Holding{sym, 2}});
        s.restart();
        UserPreferences& p = *s.prefs;
        QCOMPARE(p.trackedSymbols(), (QStringList{"AAPL", sym}));
        p.setHolding(sym, 4);
        QCOMPARE(p.holdings(), (QList<Holding>{{sym, 4}}));
        p.removeHolding(sym);
        s.restart();
        QVERIFY(s.prefs->holdings().isEmpty());
    }

    void holdingOperations() {
        Store s;
        UserPreferences& p = *s.prefs;
        p.setHolding("aapl", 1);
        p.setHolding("msft", 2);
        p.setHolding(" aapl", 12.5);
        QCOMPARE(p.holdings(), (QList<Holding>{{"AAPL", 12.5}, {"MSFT", 2}}));
        p.setHolding(" aapl", 0);
        QCOMPARE(p.holdings(), (QList<Holding>{{"MSFT", 2}}));

        // Non-finite counts and blank symbols are refused and write nothing, so the list
        // goes on being stored afterwards.
        const QByteArray file = s.fileBytes();
        Changes spy(&p);
        for (double bad : {kNaN, kInf, -kInf})
            p.setHolding("MSFT", bad);
        p.setHolding("  ", 5);
        p.removeHolding("\t");
        QCOMPARE(spy.total, 0);
        QCOMPARE(s.fileBytes(), file);
        p.setHolding("ibm", 3);
        p.removeHolding("msft ");
        s.restart();
        QCOMPARE(s.prefs->holdings(), (QList<Holding>{{"IBM", 3}}));

        // A direct assignment that cannot be encoded stays in memory and is not written.
        s.prefs->setHoldings({Holding{"IBM", kNaN}});
        QVERIFY(std::isnan(s.prefs->holdings().at(0).shares));
        s.restart();
        QCOMPARE(s.prefs->holdings(), (QList<Holding>{{"IBM", 3}}));
    }

    void alertOperations() {
        Store s;
        UserPreferences& p = *s.prefs;
        for (double bad : {0.0, -1.0, kNaN, kInf})
            QVERIFY(!p.addAlert("AAPL", bad, PriceAlert::Direction::above));
        QVERIFY(!p.addAlert(" \t", 10, PriceAlert::Direction::above));
        QVERIFY(!QFile::exists(s.path));

        const auto a = p.addAlert(" aapl", 190.5, PriceAlert::Direction::above);
        const auto b = p.addAlert("msft", 300, PriceAlert::Direction::below);
        QVERIFY(a && b && *a != *b);
        QCOMPARE(p.priceAlerts().at(0),
                 (PriceAlert{*a, "AAPL", 190.5, PriceAlert::Direction::above, std::nullopt}));

        // unknown ids and non-finite instants change and write nothing
        const QByteArray file = s.fileBytes();
        Changes spy(&p);
        p.removeAlert(QUuid::createUuid());
        p.markAlertTriggered(QUuid::createUuid(), 1700000000);
        p.markAlertTriggered(*b, kNaN);
        QCOMPARE(spy.total, 0);
        QCOMPARE(s.fileBytes(), file);

        p.markAlertTriggered(*b, 1700000123.5);
        p.removeAlert(*a);
        s.restart();
        QCOMPARE(
            s.prefs->priceAlerts(),
            (QList<PriceAlert>{{*b, "MSFT", 300, PriceAlert::Direction::below, 1700000123.5}}));
    }

    // Stored records decode strictly: a wrong shape anywhere refuses the whole value.
    void recordsDecodeStrictly_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        const auto row = [](const char* name, const char* kind, const QByteArray& json, bool ok) {
            QTest::newRow(name) << QString::fromLatin1(kind) << json << ok;
        };
        const QByteArray id = R"({"id":"6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b",)";
        row("alert", "alert",
            id + R"("symbol":"A","price":1,"direction":"above","lastTriggered":null})", true);
        row("price as text", "alert", id + R"("symbol":"A","price":"1","direction":"above"})",
            false);
        row("symbol as number", "alert", id + R"("symbol":7,"price":1,"direction":"above"})",
            false);
        row("unknown direction", "alert", id + R"("symbol":"A","price":1,"direction":"up"})",
            false);
        row("instant as text", "alert",
            id + R"("symbol":"A","price":1,"direction":"above","lastTriggered":"x"})", false);
        row("alert without id", "alert", R"({"symbol":"A","price":1,"direction":"above"})", false);
        row("braced id", "alert",
            R"({"id":"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}","symbol":"A","price":1,"direction":"above"})",
            false);
        row("holdings", "holdings", R"([{"symbol":"A","shares":1}])", true);
        row("one bad holding", "holdings", R"([{"symbol":"A","shares":1},{"symbol":"B"}])", false);
        row("holdings not a list", "holdings", R"({"symbol":"A","shares":1})", false);
        row("scheme with a bad colour", "scheme", R"({"equityUp":{"red":1}})", false);
    }
    void recordsDecodeStrictly() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        const QJsonValue v = QJsonDocument::fromJson("[" + json + "]").array().at(0);
        const bool decoded = kind == "alert"      ? PriceAlert::fromJson(v).has_value()
                             : kind == "holdings" ? decodeHoldings(v).has_value()
                                                  : ColorSchemePrefs::fromJson(v).has_value();
        QCOMPARE(decoded, ok);
    }

    void colorSchemeStoresOnlySetColours() {
        ColorSchemePrefs scheme;
        QCOMPARE(*scheme.toJson(), QJsonObject());
        scheme.equityDown = RGBColor{1, 0.25, 0};
        QCOMPARE(scheme.toJson()->keys(), QStringList{"equityDown"});
        QCOMPARE(ColorSchemePrefs::fromJson(*scheme.toJson()), std::optional(scheme));
        scheme.futuresUp = RGBColor{0, kInf, 0};
        QVERIFY(!scheme.toJson());
    }

    void qmlReadsPropertiesAndRecords() {
        UserPreferences& p = UserPreferences::shared();
        p.setHoldings({Holding{"AAPL", 2.5}});
        p.setPriceAlerts({}); // the shared store keeps its file between runs
        const auto id = p.addAlert("AAPL", 190.5, PriceAlert::Direction::below);
        p.setDisplayMode(DisplayMode::compactLogo);

        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml\nimport Velline.Prefs\nQtObject {\n"
                          " property string alertId: UserPreferences.priceAlerts[0].id\n"
                          " property bool above: UserPreferences.priceAlerts[0].isAbove\n"
                          " property var fired: UserPreferences.priceAlerts[0].lastTriggered\n"
                          " property real shares: UserPreferences.holdings[0].shares\n"
                          " property string mode: UserPreferences.displayModeRaw\n"
                          " function setMode(raw) { UserPreferences.displayModeRaw = raw }\n}",
                          QUrl());
        std::unique_ptr<QObject> o(component.create());
        QVERIFY2(o, qPrintable(component.errorString()));
        QCOMPARE(o->property("alertId").toString(), id->toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(o->property("above").toBool(), false);
        QVERIFY(!o->property("fired").isValid());
        QCOMPARE(o->property("shares").toDouble(), 2.5);
        QCOMPARE(o->property("mode").toString(), QStringLiteral("compact2"));
        QMetaObject::invokeMethod(o.get(), "setMode", Q_ARG(QVariant, "doNotDisturb"));
        QCOMPARE(p.displayMode(), DisplayMode::doNotDisturb);
    }
};

QTEST_GUILESS_MAIN(TestUserPreferences)
#include "tst_userpreferences.moc"
