// The rules behind the settings panes: number parsing and the can-add test, the row texts, the
// add and remove actions on a private preference store, the colour overrides and the autostart
// entry.
#include "desktop/autostart.h"
#include "desktop/buildinfo.h"
#include "prefs/userpreferences.h"
#include "settings/coloroverride.h"
#include "settings/settingseditor.h"
#include "settings/settingsrules.h"
#include "settings/startatlogin.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace velline;
using namespace velline::settings;
using namespace Qt::StringLiterals;

namespace {

// A private preference store with an editor on it.
struct Store {
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings{
        new QSettings(dir.filePath(u"Velline.ini"_s), QSettings::IniFormat)};
    std::unique_ptr<UserPreferences> prefs{new UserPreferences(settings.get())};
    SettingsEditor editor;
    std::vector<std::unique_ptr<QSettings>> keep;

    Store() { editor.setPrefs(prefs.get()); }

    // The preferences as the next start of the program would load them.
    std::unique_ptr<UserPreferences> reloaded() {
        settings->sync();
        keep.push_back(std::make_unique<QSettings>(settings->fileName(), QSettings::IniFormat));
        return std::make_unique<UserPreferences>(keep.back().get());
    }

    std::unique_ptr<ColorOverride> colour(const QString& key) {
        auto override = std::make_unique<ColorOverride>();
        override->setPrefs(prefs.get());
        override->setKey(key);
        return override;
    }
};

bool near(const std::optional<RGBColor>& color, double r, double g, double b) {
    const double e = 1e-6;
    return color && std::abs(color->red - r) < e && std::abs(color->green - g) < e &&
           std::abs(color->blue - b) < e;
}

void textRow(const char* name, const QString& text, const QString& expected) {
    QTest::newRow(name) << text << expected;
}

} // namespace

class TestSettingsRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The panes take the user's numbers in the C form whatever the user's locale.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    // Every add row takes a symbol of at most 12 characters once trimmed (as the quick-add
    // panel does) and, for holdings and alerts, a finite positive decimal number; what it refuses
    // it does not store.
    void addRowsTakeOnlyWhatTheRulesAllow_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("symbolTaken");
        QTest::addColumn<double>("shares"); // NaN: refused
        const double no = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("12 with spaces around") << u" \tabcdefghijkl "_s << "1" << true << 1.0;
        QTest::newRow("13") << u"abcdefghijklm"_s << "1" << false << no;
        QTest::newRow("only spaces") << u" \t "_s << "1" << false << no;
        QTest::newRow("no symbol") << QString() << "1" << false << no;
        const std::pair<const char*, double> usable[]{
            {"12", 12}, {"12.5", 12.5}, {".5", 0.5}, {"1e3", 1000}, {"+3", 3}, {"5e-324", 5e-324}};
        for (const auto& [number, shares] : usable)
            QTest::newRow(number) << u"tsla"_s << QString::fromLatin1(number) << true << shares;
        for (const char* bad : {"0", "-0", "-3", "abc", "12 ", " 12", "12\t", "12,5", "1,000",
                                "inf", "Infinity", "nan", "1e999", "0x10", "+-3", "+", "12abc"})
            QTest::newRow(bad) << u"tsla"_s << QString::fromLatin1(bad) << true << no;
        QTest::newRow("empty") << u"tsla"_s << QString() << true << no;
        QTest::newRow("arabic digits")
            << u"tsla"_s << QString::fromUtf8("\u0661\u0662") << true << no;
    }
    void addRowsTakeOnlyWhatTheRulesAllow() {
        QFETCH(QString, symbol);
        QFETCH(QString, number);
        QFETCH(bool, symbolTaken);
        QFETCH(double, shares);
        const bool taken = !std::isnan(shares);
        Store store;
        QCOMPARE(SettingsEditor::canAddSymbol(symbol), symbolTaken);
        QCOMPARE(store.editor.addTrackedSymbol(symbol), symbolTaken);
        QCOMPARE(SettingsEditor::canAdd(symbol, number), taken);
        QCOMPARE(store.editor.addHolding(symbol, number), taken);
        QCOMPARE(store.editor.addAlert(symbol, number, true), taken);
        QCOMPARE(store.prefs->priceAlerts().size(), taken ? 1 : 0);
        QCOMPARE(store.prefs->holdings().size(), taken ? 1 : 0);
        if (symbolTaken)
            QCOMPARE(parsePositiveNumber(number).has_value(), taken);
        if (taken) {
            QCOMPARE(*parsePositiveNumber(number), shares);
            QCOMPARE(store.prefs->holdings().first().shares, shares);
        }
    }

    void codeStyledText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        const QString open = u"<span style=\"background-color: #20112233\">&nbsp;<span "
                             "style=\"font-family: monospace; color: #445566\">"_s;
        const QString close = u"</span>&nbsp;</span>"_s;
        textRow("two code parts", u"use `^GSPC` for the S&P 500, `BRK-B` for"_s,
                "use " + open + "^GSPC" + close + " for the S&amp;P 500, " + open + "BRK-B" +
                    close + " for");
        textRow("markup inside code is escaped", u"`<b>`"_s, open + "&lt;b&gt;" + close);
        textRow("unpaired third backtick kept", u"`a` `b"_s, open + "a" + close + " `b");
    }
    void codeStyledText() {
        QFETCH(QString, text);
        QFETCH(QString, html);
        QCOMPARE(settings::codeStyledText(text, QColor(0x44, 0x55, 0x66),
                                          QColor(0x11, 0x22, 0x33, 0x20)),
                 html);
    }

    void shareCountText_data() {
        QTest::addColumn<double>("shares");
        QTest::addColumn<QString>("text");
        QTest::newRow("rounded at four places") << 0.33333 << "0.3333";
        // Rounds up to a whole number at four places: no separator left hanging.
        QTest::newRow("almost whole") << 12.99999 << "13";
        QTest::newRow("tiny") << 0.00001 << "0";
        QTest::newRow("large") << 1e9 << "1000000000";
    }
    void shareCountText() {
        QFETCH(double, shares);
        QFETCH(QString, text);
        QCOMPARE(settings::shareCountText(shares), text);
    }

    void rowTexts() {
        QCOMPARE(priceText(187.5), u"$187.50"_s);
        QCOMPARE(priceText(0.005), u"$0.01"_s);
        // TZ is pinned to Europe/Berlin for the tests.
        const double instant =
            double(QDateTime(QDate(2024, 1, 10), QTime(14, 35), Qt::UTC).toSecsSinceEpoch());
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(firedText(instant, us),
                 "fired " + us.toString(QDateTime(QDate(2024, 1, 10), QTime(15, 35)),
                                        QLocale::ShortFormat));
        QVERIFY(firedText(instant, QLocale(QLocale::German)).contains(u"15:35"_s));
        QCOMPARE(SettingsEditor::firedText(QVariant()), QString());
        QVERIFY(SettingsEditor::firedText(QVariant(instant)).startsWith(u"fired "_s));
    }

    // The editor hands the store trimmed, upper-cased entries, and each only once.
    void addsAreNormalisedAndDuplicatesChangeNothing() {
        Store store;
        store.prefs->setTrackedSymbols({"AAPL"});
        QSignalSpy changed(store.prefs.get(), &UserPreferences::trackedSymbolsChanged);
        QVERIFY(store.editor.addTrackedSymbol(u" nvda\t"_s));
        QVERIFY(!store.editor.addTrackedSymbol(u" nvda "_s));
        QVERIFY(store.editor.addTrackedSymbol(u"brk b"_s)); // inner spaces stay
        QCOMPARE(store.prefs->trackedSymbols(), (QStringList{"AAPL", "NVDA", "BRK B"}));
        QCOMPARE(changed.size(), 2);
        // The quick-add history is left alone.
        QVERIFY(store.prefs->recentlyAdded().isEmpty());

        QVERIFY(store.editor.addHolding(u"aapl"_s, u"12"_s));
        QVERIFY(store.editor.addHolding(u" aapl"_s, u"12.5"_s)); // updates the count
        QCOMPARE(store.prefs->holdings(), (QList<Holding>{{"AAPL", 12.5}}));
        QVERIFY(store.editor.addAlert(u" aapl "_s, u"187.5"_s, false));
        const PriceAlert alert = store.prefs->priceAlerts().value(0);
        QCOMPARE(alert, (PriceAlert{alert.id, "AAPL", 187.5, PriceAlert::Direction::below, {}}));
    }

    void removalsTouchOnlyWhatTheyName() {
        Store store;
        UserPreferences& prefs = *store.prefs;
        prefs.setTrackedSymbols({"AAPL", "NVDA"});
        prefs.setHoldings({{"NVDA", 2}, {"MSFT", 3}});
        prefs.addAlert(u"NVDA"_s, 100, PriceAlert::Direction::above);
        // A stock no longer tracked keeps its holding and its alert.
        store.editor.removeTrackedSymbol(u"NVDA"_s);
        QCOMPARE(prefs.trackedSymbols(), QStringList{"AAPL"});
        QCOMPARE(prefs.holdings().size(), 2);
        QCOMPARE(prefs.priceAlerts().size(), 1);

        QSignalSpy tracked(&prefs, &UserPreferences::trackedSymbolsChanged);
        QSignalSpy alerts(&prefs, &UserPreferences::priceAlertsChanged);
        store.editor.removeTrackedSymbol(u"MSFT"_s);
        store.editor.removeAlert(u"not an id"_s);
        store.editor.removeAlert(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QCOMPARE(tracked.size() + alerts.size(), 0);

        store.editor.removeHolding(u"MSFT"_s);
        QCOMPARE(prefs.holdings(), (QList<Holding>{{"NVDA", 2}}));
        store.editor.removeAlert(prefs.priceAlerts().first().idText());
        QVERIFY(prefs.priceAlerts().isEmpty());
    }

    void colourOverridePickRevertAndReset() {
        Store store;
        const auto up = store.colour(u"equityUp"_s);
        const auto down = store.colour(u"futuresDown"_s);

        // Nothing set: the built-in colours of the notch.
        QVERIFY(!up->isSet());
        QCOMPARE(up->color(), QColor::fromRgbF(0.55f, 0.82f, 0.62f));

        // A picked colour is stored opaque, as sRGB components.
        up->pick(QColor::fromHsvF(0.5f, 1.0f, 1.0f, 0.3f));
        down->pick(QColor(51, 102, 153));
        QVERIFY(near(store.prefs->colorScheme().equityUp, 0.0, 1.0, 1.0));
        QCOMPARE(up->color().alphaF(), 1.0f);
        QVERIFY(near(store.prefs->colorScheme().futuresDown, 0.2, 0.4, 0.6));

        // Reverting clears only its own override.
        up->revert();
        QVERIFY(down->isSet());
        QVERIFY(!store.prefs->colorScheme().equityUp);

        // Set elsewhere: the override follows.
        QSignalSpy upChanged(up.get(), &ColorOverride::changed);
        store.prefs->setColorScheme({RGBColor{1, 0, 0}, {}, {}, {}});
        QCOMPARE(upChanged.size(), 1);
        QCOMPARE(up->color(), QColor(Qt::red));
        store.editor.resetColors();
        QCOMPARE(store.prefs->colorScheme(), ColorSchemePrefs());
        QVERIFY(!up->isSet() && !down->isSet());

        // An invalid colour is stored as white.
        up->pick(QColor());
        QVERIFY(near(store.prefs->colorScheme().equityUp, 1.0, 1.0, 1.0));
    }

    void desktopNotificationsAreOffByDefaultAndPersist() {
        Store store;
        QVERIFY(!store.prefs->desktopNotifications());
        store.prefs->setDesktopNotifications(true);
        QVERIFY(store.reloaded()->desktopNotifications());
        // A stored value of the wrong kind falls back to off.
        store.settings->setValue(UserPreferences::kDesktopNotificationsKey, u"yes"_s);
        QVERIFY(!store.reloaded()->desktopNotifications());
    }

    void execValueQuotesWhatTheParserWouldSplit_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("value");
        textRow("plain", u"/usr/bin/velline"_s, u"/usr/bin/velline"_s);
        textRow("space", u"/opt/My Apps/velline"_s, u"\"/opt/My Apps/velline\""_s);
        textRow("percent", u"/opt/100%/velline"_s, u"\"/opt/100%%/velline\""_s);
        textRow("dollar and quote", u"/opt/a$b\"c/velline"_s, u"\"/opt/a\\\\$b\\\\\"c/velline\""_s);
        textRow("backslash", u"/opt/a\\b/velline"_s, u"\"/opt/a\\\\\\\\b/velline\""_s);
    }
    void execValueQuotesWhatTheParserWouldSplit() {
        QFETCH(QString, path);
        QFETCH(QString, value);
        QCOMPARE(autostart::execValue(path), value);
    }

    void autostartEntryAppearsAndDisappearsOrReportsWhy() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString path =
            config.filePath(u"autostart/"_s + QLatin1String(buildinfo::kAppId) + u".desktop"_s);
        StartAtLogin login;
        QSignalSpy changed(&login, &StartAtLogin::enabledChanged);
        QVERIFY(!login.isEnabled());
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(
            text.contains("\nExec="_L1 + autostart::execValue(StartAtLogin::executable()) + u'\n'));
        QVERIFY(QFileInfo(StartAtLogin::executable()).isAbsolute());
        file.close();

        // Turning it on again rewrites the entry; off removes it, twice is harmless.
        login.setEnabled(true);
        login.setEnabled(false);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!login.isEnabled());
        login.setEnabled(false);
        QCOMPARE(login.error(), QString());
        QCOMPARE(changed.size(), 4);

        // "autostart" is a file, so the folder cannot be made: the switch is told to show the
        // truth again.
        QVERIFY(QDir(config.filePath(u"autostart"_s)).removeRecursively());
        QFile blocker(config.filePath(u"autostart"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        login.setEnabled(true);
        QVERIFY(!login.isEnabled());
        QVERIFY(!login.error().isEmpty());
        QCOMPARE(changed.size(), 5);
        qunsetenv("XDG_CONFIG_HOME");
    }
};

QTEST_GUILESS_MAIN(TestSettingsRules)
#include "tst_settingsrules.moc"
