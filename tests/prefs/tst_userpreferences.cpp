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
    QJsonValue storedJson(const QString& key) const {
        return QJsonDocument::fromJson(settings->value(key).toByteArray()).array();
    }
};

// Counts every change signal of the preferences.
struct AnyChangeSpy {
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    explicit AnyChangeSpy(UserPreferences* p) {
        for (auto signal :
             {&UserPreferences::trackedSymbolsChanged, &UserPreferences::priceAlertsChanged,
              &UserPreferences::holdingsChanged, &UserPreferences::recentlyAddedChanged,
              &UserPreferences::displayModeChanged, &UserPreferences::showFuturesAfterHoursChanged,
              &UserPreferences::colorSchemeChanged})
            spies.push_back(std::make_unique<QSignalSpy>(p, signal));
    }
    int total() const {
        int n = 0;
        for (const auto& s : spies)
            n += s->count();
        return n;
    }
};

} // namespace

class TestUserPreferences : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartUsesDefaultsAndWritesNothing() {
        Store s;
        const UserPreferences& p = *s.prefs;
        QCOMPARE(p.trackedSymbols(), (QStringList{"AVGO", "AAPL", "META", "MSFT", "^GSPC", "LMT",
                                                  "NVDA", "IBM", "MDB", "PLTR"}));
        QVERIFY(p.priceAlerts().isEmpty());
        QVERIFY(p.holdings().isEmpty());
        QVERIFY(p.recentlyAdded().isEmpty());
        QCOMPARE(p.displayMode(), DisplayMode::regular);
        QVERIFY(p.showFuturesAfterHours());
        QCOMPARE(p.colorScheme(), ColorSchemePrefs());
        s.restart();
        QVERIFY(!QFile::exists(s.path));

        // the first change writes only its own key
        s.prefs->setShowFuturesAfterHours(false);
        QCOMPARE(s.settings->allKeys(), QStringList{"showFuturesAfterHours_v1"});
        QVERIFY(s.fileBytes().contains("showFuturesAfterHours_v1=false"));
    }

    void everyPropertySurvivesARestartExactly() {
        // 0, 1 and 2 entries: IniFormat writes each list size differently.
        for (const QStringList& tracked :
             {QStringList{}, QStringList{"^GSPC"}, QStringList{"BRK.B", "ÄÖÜ, INC"}}) {
            Store s;
            UserPreferences& p = *s.prefs;
            p.setTrackedSymbols(tracked);
            p.setRecentlyAdded(tracked);
            const PriceAlert alert{QUuid::createUuid(), "日本株", 0.1 + 0.2,
                                   PriceAlert::Direction::below, 1700000000.123};
            p.setPriceAlerts({alert, PriceAlert{QUuid::createUuid(), "Q\"\\Z", 5,
                                                PriceAlert::Direction::above, std::nullopt}});
            p.setHoldings({Holding{"AAPL", 12.5}, Holding{"Ω@ByteArray(", 1e-9}});
            p.setDisplayMode(DisplayMode::compactLogo);
            p.setShowFuturesAfterHours(false);
            ColorSchemePrefs scheme;
            scheme.equityUp = RGBColor{0.1, 0.2, 0.3};
            scheme.futuresDown = RGBColor{1, 0, 1.0 / 3};
            p.setColorScheme(scheme);

            const auto before = std::make_tuple(p.trackedSymbols(), p.priceAlerts(), p.holdings(),
                                                p.recentlyAdded(), p.colorScheme());
            s.restart();
            const UserPreferences& q = *s.prefs;
            QCOMPARE(std::make_tuple(q.trackedSymbols(), q.priceAlerts(), q.holdings(),
                                     q.recentlyAdded(), q.colorScheme()),
                     before);
            QCOMPARE(q.displayMode(), DisplayMode::compactLogo);
            QVERIFY(!q.showFuturesAfterHours());

            const QByteArray file = s.fileBytes();
            QVERIFY(file.contains("displayMode_v1=compact2"));
            const QJsonObject stored = s.storedJson("priceAlerts_v1").toArray().at(0).toObject();
            QCOMPARE(stored.value("id").toString(), alert.idText());
            QCOMPARE(stored.value("lastTriggered").toDouble(), 1700000000.123 - 978307200);
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
        QCOMPARE(bad.prefs->trackedSymbols(), UserPreferences::defaultTrackedSymbols());
        QVERIFY(bad.prefs->priceAlerts().isEmpty());
        QVERIFY(bad.prefs->holdings().isEmpty());
        QVERIFY(bad.prefs->recentlyAdded().isEmpty());
        QCOMPARE(bad.prefs->displayMode(), DisplayMode::regular);
        QVERIFY(bad.prefs->showFuturesAfterHours());
        QCOMPARE(bad.prefs->colorScheme(), ColorSchemePrefs());

        // Hand-written good values next to bad ones still load; an unclean tracked list is
        // taken as stored, and loading writes nothing.
        const QByteArray mixedText = QByteArrayLiteral(
            "[General]\n"
            "trackedSymbols_v2=aapl, aapl, \" msft\"\n"
            "priceAlerts_v1=not a blob\n"
            "holdings_v1=\"@ByteArray([{\\\"symbol\\\":\\\"IBM\\\",\\\"shares\\\":3}])\"\n"
            "recentlyAdded_v1=\n"
            "displayMode_v1=doNotDisturb\n"
            "showFuturesAfterHours_v1=false\n"
            "colorScheme_v1=@ByteArray({\"equityUp\":null})\n");
        Store mixed(mixedText);
        QCOMPARE(mixed.prefs->trackedSymbols(), (QStringList{"aapl", "aapl", " msft"}));
        QVERIFY(mixed.prefs->priceAlerts().isEmpty());
        QCOMPARE(mixed.prefs->holdings(), QList<Holding>{(Holding{"IBM", 3})});
        QVERIFY(mixed.prefs->recentlyAdded().isEmpty());
        QCOMPARE(mixed.prefs->displayMode(), DisplayMode::doNotDisturb);
        QVERIFY(!mixed.prefs->showFuturesAfterHours());
        QCOMPARE(mixed.prefs->colorScheme(), ColorSchemePrefs());
        mixed.restart();
        QCOMPARE(mixed.fileBytes(), mixedText);
    }

    void trackedAssignmentIsCleanedAndPublishedTwice() {
        Store s;
        QList<QStringList> seen;
        connect(s.prefs.get(), &UserPreferences::trackedSymbolsChanged, this,
                [&] { seen.append(s.prefs->trackedSymbols()); });
        s.prefs->setTrackedSymbols({" aapl", "AAPL", "", "msft\t"});
        QCOMPARE(seen, (QList<QStringList>{{" aapl", "AAPL", "", "msft\t"}, {"AAPL", "MSFT"}}));
        s.restart();
        QCOMPARE(s.prefs->trackedSymbols(), (QStringList{"AAPL", "MSFT"}));

        // a clean list (even an unchanged one) is published once; every property notifies
        // on every assignment
        seen.clear();
        connect(s.prefs.get(), &UserPreferences::trackedSymbolsChanged, this,
                [&] { seen.append(s.prefs->trackedSymbols()); });
        AnyChangeSpy spy(s.prefs.get());
        UserPreferences& p = *s.prefs;
        p.setTrackedSymbols(p.trackedSymbols());
        p.setPriceAlerts(p.priceAlerts());
        p.setHoldings(p.holdings());
        p.setRecentlyAdded(p.recentlyAdded());
        p.setDisplayMode(p.displayMode());
        p.setShowFuturesAfterHours(p.showFuturesAfterHours());
        p.setColorScheme(p.colorScheme());
        QCOMPARE(seen.size(), 1);
        for (const auto& one : spy.spies)
            QCOMPARE(one->count(), 1);
        p.setDisplayModeRaw("compactLogo"); // not a stored text
        QCOMPARE(p.displayMode(), DisplayMode::regular);
        QCOMPARE(spy.total(), 7);
    }

    void normalizeSymbolUppercasesAndTrimsOnlySpaces() {
        QCOMPARE(normalizeSymbol(" nvda\t"), QStringLiteral("NVDA"));
        QCOMPARE(normalizeSymbol("straße"), QStringLiteral("STRASSE"));
        QCOMPARE(normalizeSymbol(QStringLiteral("\u00a0brk b\u3000\u2009")),
                 QStringLiteral("BRK B"));
        QCOMPARE(normalizeSymbol("\naapl\r\n"), QStringLiteral("\nAAPL\r\n"));
        QCOMPARE(normalizeSymbol(" \t "), QString());
    }

    void addSymbolKeepsListsInOrder() {
        Store s;
        UserPreferences& p = *s.prefs;
        const QStringList tracked = p.trackedSymbols();
        QCOMPARE(p.addSymbol("  nvda  "), std::optional<QString>("NVDA"));
        QCOMPARE(p.trackedSymbols(), tracked);
        QCOMPARE(p.recentlyAdded(), QStringList{"NVDA"});

        AnyChangeSpy spy(&p);
        QCOMPARE(p.addSymbol(" \t "), std::nullopt);
        QCOMPARE(spy.total(), 0);

        for (const char* sym : {"a", "b", "c", "d", "e", "f"})
            p.addSymbol(sym);
        QCOMPARE(p.recentlyAdded(), (QStringList{"F", "E", "D", "C", "B", "A"}));
        p.addSymbol("c");
        QCOMPARE(p.recentlyAdded(), (QStringList{"C", "F", "E", "D", "B", "A"}));
        QCOMPARE(p.trackedSymbols().mid(10), (QStringList{"A", "B", "C", "D", "E", "F"}));
        s.restart();
        QCOMPARE(s.prefs->recentlyAdded(), (QStringList{"C", "F", "E", "D", "B", "A"}));
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
        AnyChangeSpy spy(&p);
        for (double bad : {kNaN, kInf, -kInf})
            p.setHolding("MSFT", bad);
        p.setHolding("  ", 5);
        p.removeHolding("\t");
        QCOMPARE(spy.total(), 0);
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
        AnyChangeSpy spy(&p);
        QVERIFY(!p.addAlert("AAPL", 0, PriceAlert::Direction::above));
        QVERIFY(!p.addAlert("AAPL", -1, PriceAlert::Direction::above));
        QVERIFY(!p.addAlert("AAPL", kNaN, PriceAlert::Direction::above));
        QVERIFY(!p.addAlert("AAPL", kInf, PriceAlert::Direction::above));
        QVERIFY(!p.addAlert(" \t", 10, PriceAlert::Direction::above));
        QCOMPARE(spy.total(), 0);

        const auto a = p.addAlert(" aapl", 190.5, PriceAlert::Direction::above);
        const auto b = p.addAlert("msft", 300, PriceAlert::Direction::below);
        QVERIFY(a && b && *a != *b);
        QCOMPARE(p.priceAlerts().at(0),
                 (PriceAlert{*a, "AAPL", 190.5, PriceAlert::Direction::above, std::nullopt}));

        // unknown ids and non-finite instants change and write nothing
        const QByteArray file = s.fileBytes();
        const int before = spy.total();
        p.removeAlert(QUuid::createUuid());
        p.markAlertTriggered(QUuid::createUuid(), 1700000000);
        p.markAlertTriggered(*b, kNaN);
        QCOMPARE(spy.total(), before);
        QCOMPARE(s.fileBytes(), file);

        p.markAlertTriggered(*b, 1700000123.5);
        s.restart();
        QCOMPARE(s.prefs->priceAlerts().at(1).lastTriggered, std::optional(1700000123.5));
        QVERIFY(!s.prefs->priceAlerts().at(0).lastTriggered);
        QVERIFY(
            !s.storedJson("priceAlerts_v1").toArray().at(0).toObject().contains("lastTriggered"));
        s.prefs->removeAlert(*a);
        s.restart();
        QCOMPARE(s.prefs->priceAlerts().size(), 1);
        QCOMPARE(s.prefs->priceAlerts().at(0).id, *b);
    }

    void qmlReadsPropertiesAndRecords() {
        UserPreferences& p = UserPreferences::shared();
        p.setTrackedSymbols({"AAPL", "MSFT"});
        p.setHoldings({Holding{"AAPL", 2.5}});
        p.setPriceAlerts({});
        const auto id = p.addAlert("AAPL", 190.5, PriceAlert::Direction::below);
        p.setDisplayMode(DisplayMode::compactLogo);

        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData(R"(
            import QtQml
            import Velline.Prefs
            QtObject {
                property var symbols: UserPreferences.trackedSymbols
                property string alertId: UserPreferences.priceAlerts[0].id
                property bool alertAbove: UserPreferences.priceAlerts[0].isAbove
                property var triggered: UserPreferences.priceAlerts[0].lastTriggered
                property real shares: UserPreferences.holdings[0].shares
                property string mode: UserPreferences.displayModeRaw
                function setMode(raw) { UserPreferences.displayModeRaw = raw }
            })",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->property("symbols").toStringList(), (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(object->property("alertId").toString(),
                 id->toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(object->property("alertAbove").toBool(), false);
        QVERIFY(!object->property("triggered").isValid());
        QCOMPARE(object->property("shares").toDouble(), 2.5);
        QCOMPARE(object->property("mode").toString(), QStringLiteral("compact2"));
        QMetaObject::invokeMethod(object.get(), "setMode", Q_ARG(QVariant, "doNotDisturb"));
        QCOMPARE(p.displayMode(), DisplayMode::doNotDisturb);
    }
};

QTEST_GUILESS_MAIN(TestUserPreferences)
#include "tst_userpreferences.moc"
