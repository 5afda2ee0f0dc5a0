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

    void parsesOnlyFinitePositiveDecimalNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected"); // NaN: refused
        const double no = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("whole") << "12" << 12.0;
        QTest::newRow("fraction") << "12.5" << 12.5;
        QTest::newRow("leading point") << ".5" << 0.5;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("plus sign") << "+3" << 3.0;
        QTest::newRow("smallest positive") << "5e-324" << 5e-324;
        for (const char* bad : {"0", "-0", "-3", "abc", "12 ", " 12", "12\t", "12,5", "1,000",
                                "inf", "Infinity", "nan", "1e999", "0x10", "+-3", "+", "12abc"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << no;
        QTest::newRow("empty") << "" << no;
        QTest::newRow("arabic digits") << QString::fromUtf8("\u0661\u0662") << no;
    }
    void parsesOnlyFinitePositiveDecimalNumbers() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const std::optional<double> parsed = parsePositiveNumber(text);
        if (std::isnan(expected)) {
            QVERIFY2(!parsed, qPrintable(u"accepted as %1"_s.arg(parsed.value_or(0))));
        } else {
            QVERIFY(parsed);
            QCOMPARE(*parsed, expected);
        }
    }

    // Every add row takes a symbol of at most 12 characters once trimmed (as the quick-add
    // panel does) and, for holdings and alerts, a usable number; what it refuses it does not
    // store.
    void addRowsRefuseWhatTheRulesRefuse_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("symbolTaken");
        QTest::addColumn<bool>("taken");
        QTest::newRow("usable") << u"tsla"_s << "12.5" << true << true;
        QTest::newRow("12 with spaces around") << u" \tabcdefghijkl "_s << "1" << true << true;
        QTest::newRow("13") << u"abcdefghijklm"_s << "1" << false << false;
        QTest::newRow("75") << QString(75, u'x') << "1" << false << false;
        QTest::newRow("only spaces") << u" \t "_s << "1" << false << false;
        QTest::newRow("no symbol") << QString() << "1" << false << false;
        for (const char* bad : {"0", "-3", "abc", "12 ", "12,5", "inf", "nan", "1e999"})
            QTest::newRow(bad) << u"tsla"_s << QString::fromLatin1(bad) << true << false;
    }
    void addRowsRefuseWhatTheRulesRefuse() {
        QFETCH(QString, symbol);
        QFETCH(QString, number);
        QFETCH(bool, symbolTaken);
        QFETCH(bool, taken);
        Store store;
        QCOMPARE(SettingsEditor::canAddSymbol(symbol), symbolTaken);
        QCOMPARE(store.editor.addTrackedSymbol(symbol), symbolTaken);
        QCOMPARE(SettingsEditor::canAdd(symbol, number), taken);
        QCOMPARE(store.editor.addHolding(symbol, number), taken);
        QCOMPARE(store.editor.addAlert(symbol, number, true), taken);
        QCOMPARE(store.prefs->holdings().size(), taken ? 1 : 0);
        QCOMPARE(store.prefs->priceAlerts().size(), taken ? 1 : 0);
    }

    void codeStyledText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        const QString open = u"<span style=\"background-color: #20112233\">&nbsp;<span "
                             "style=\"font-family: monospace; color: #445566\">"_s;
        const QString close = u"</span>&nbsp;</span>"_s;
        textRow("plain, escaped", u"S&P <500>"_s, u"S&amp;P &lt;500&gt;"_s);
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
        QTest::newRow("whole") << 12.0 << "12";
        QTest::newRow("half") << 12.5 << "12.5";
        QTest::newRow("eighth") << 0.125 << "0.125";
        QTest::newRow("four places") << 1.2345 << "1.2345";
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
        QCOMPARE(spikeRuleText(), u"Pulse when a stock crosses 2% vs previous close, moves 1.0% "
                                  "in 5 minutes, or sees unusual volume."_s);
        QCOMPARE(SettingsEditor::versionText(),
                 u"Velline v%1 (%2)"_s.arg(QLatin1String(buildinfo::kVersion),
                                           QLatin1String(buildinfo::kBuildNumber)));

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

    void stocksAddNormalisesAndRefusesDuplicates() {
        Store store;
        store.prefs->setTrackedSymbols({"AAPL"});
        QSignalSpy changed(store.prefs.get(), &UserPreferences::trackedSymbolsChanged);
        QVERIFY(store.editor.addTrackedSymbol(u" nvda\t"_s));
        QCOMPARE(store.prefs->trackedSymbols(), (QStringList{"AAPL", "NVDA"}));
        // Already tracked: nothing changes, nothing is written.
        QVERIFY(!store.editor.addTrackedSymbol(u" nvda "_s));
        QCOMPARE(changed.size(), 1);
        // Inner spaces stay.
        QVERIFY(store.editor.addTrackedSymbol(u"brk b"_s));
        // The quick-add history is left alone, and the list survives a restart.
        QVERIFY(store.prefs->recentlyAdded().isEmpty());
        QCOMPARE(store.reloaded()->trackedSymbols(), (QStringList{"AAPL", "NVDA", "BRK B"}));
    }

    void holdingsAndAlertsAreStoredNormalised() {
        Store store;
        QVERIFY(store.editor.addHolding(u"msft"_s, u"3"_s));
        QVERIFY(store.editor.addHolding(u"aapl"_s, u"12"_s));
        QVERIFY(store.editor.addHolding(u" aapl"_s, u"12.5"_s)); // updates the count
        QVERIFY(store.editor.addAlert(u" aapl "_s, u"187.5"_s, false));
        const QList<Holding> holdings{{"MSFT", 3}, {"AAPL", 12.5}};
        QCOMPARE(store.prefs->holdings(), holdings);
        QCOMPARE(store.prefs->priceAlerts().size(), 1);
        const PriceAlert alert = store.prefs->priceAlerts().first();
        QCOMPARE(alert, (PriceAlert{alert.id, "AAPL", 187.5, PriceAlert::Direction::below, {}}));
        const auto again = store.reloaded();
        QCOMPARE(again->holdings(), holdings);
        QCOMPARE(again->priceAlerts(), store.prefs->priceAlerts());
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
        QCOMPARE(prefs.priceAlerts().size(), 1);

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
        QCOMPARE(down->color(), QColor::fromRgbF(0.62f, 0.48f, 0.88f));

        // A picked colour is stored opaque, as sRGB components.
        up->pick(QColor::fromHsvF(0.5f, 1.0f, 1.0f, 0.3f));
        down->pick(QColor(51, 102, 153));
        QVERIFY(up->isSet());
        QVERIFY(near(store.prefs->colorScheme().equityUp, 0.0, 1.0, 1.0));
        QCOMPARE(up->color().alphaF(), 1.0f);
        QVERIFY(near(store.prefs->colorScheme().futuresDown, 0.2, 0.4, 0.6));
        QCOMPARE(store.reloaded()->colorScheme(), store.prefs->colorScheme());

        // Reverting clears only its own override.
        up->revert();
        QVERIFY(!up->isSet());
        QVERIFY(down->isSet());
        QVERIFY(!store.prefs->colorScheme().equityUp);

        // Set elsewhere: the override follows.
        QSignalSpy upChanged(up.get(), &ColorOverride::changed);
        ColorSchemePrefs scheme;
        scheme.equityUp = RGBColor{1, 0, 0};
        store.prefs->setColorScheme(scheme);
        QCOMPARE(upChanged.size(), 1);
        QCOMPARE(up->color(), QColor(Qt::red));
        store.editor.resetColors();
        QCOMPARE(store.prefs->colorScheme(), ColorSchemePrefs());
        QVERIFY(!up->isSet() && !down->isSet());

        // An invalid colour is stored as white; an unknown key does nothing.
        up->pick(QColor());
        QVERIFY(near(store.prefs->colorScheme().equityUp, 1.0, 1.0, 1.0));
        const auto unknown = store.colour(u"sideways"_s);
        QSignalSpy schemeChanged(store.prefs.get(), &UserPreferences::colorSchemeChanged);
        unknown->pick(QColor(Qt::blue));
        unknown->revert();
        QCOMPARE(schemeChanged.size(), 0);
        QVERIFY(!unknown->color().isValid());
    }

    void desktopNotificationsAreOffByDefaultAndPersist() {
        Store store;
        QVERIFY(!store.prefs->desktopNotifications());
        QVERIFY(!store.settings->contains(UserPreferences::kDesktopNotificationsKey));
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

    void autostartEntryAppearsAndDisappears() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString path =
            config.filePath(u"autostart/"_s + QLatin1String(buildinfo::kAppId) + u".desktop"_s);
        QCOMPARE(autostart::entryPath(), path);

        StartAtLogin login;
        QSignalSpy changed(&login, &StartAtLogin::enabledChanged);
        QVERIFY(!login.isEnabled());
        login.setEnabled(true);
        QVERIFY(login.isEnabled());
        QCOMPARE(login.error(), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(u"[Desktop Entry]\n"_s));
        QVERIFY(text.contains(u"\nType=Application\n"_s));
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
        qunsetenv("XDG_CONFIG_HOME");
    }

    void startAtLoginReportsAFailure() {
        QTemporaryDir config;
        // "autostart" is a file, so the folder cannot be made.
        QFile blocker(config.filePath(u"autostart"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        StartAtLogin login;
        QSignalSpy changed(&login, &StartAtLogin::enabledChanged);
        login.setEnabled(true);
        QVERIFY(!login.isEnabled());
        QVERIFY(!login.error().isEmpty());
        // The switch is told to show the truth again.
        QCOMPARE(changed.size(), 1);
        qunsetenv("XDG_CONFIG_HOME");
    }
};

QTEST_GUILESS_MAIN(TestSettingsRules)
#include "tst_settingsrules.moc"
