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

namespace {

struct Store {
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings{
        new QSettings(dir.filePath(QStringLiteral("Velline.ini")), QSettings::IniFormat)};
    std::unique_ptr<UserPreferences> prefs{new UserPreferences(settings.get())};

    // The preferences as the next start of the program would load them.
    std::unique_ptr<UserPreferences> reloaded() {
        settings->sync();
        auto again = std::make_unique<QSettings>(settings->fileName(), QSettings::IniFormat);
        auto* raw = again.get();
        keep.push_back(std::move(again));
        return std::make_unique<UserPreferences>(raw);
    }
    std::vector<std::unique_ptr<QSettings>> keep;
};

bool near(const std::optional<RGBColor>& color, double r, double g, double b) {
    const double e = 1e-6;
    return color && std::abs(color->red - r) < e && std::abs(color->green - g) < e &&
           std::abs(color->blue - b) < e;
}

} // namespace

class TestSettingsRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesOnlyFinitePositiveDecimalNumbers_data();
    void parsesOnlyFinitePositiveDecimalNumbers();
    void canAddNeedsASymbolAndAUsableNumber();
    void addRowsShareTheSymbolLengthLimit_data();
    void addRowsShareTheSymbolLengthLimit();
    void codeStyledText_data();
    void codeStyledText();
    void shareCountText_data();
    void shareCountText();
    void rowTexts();
    void firedTextUsesTheLocalesShortDateAndTime();

    void stocksAddNormalisesAndRefusesDuplicates();
    void stocksRemoveKeepsHoldingsAndAlerts();
    void portfolioAddAddsOrUpdatesOnlyForAUsableCount();
    void alertsAddArmsOnlyForAUsablePrice();
    void removeAlertIgnoresUnknownIds();

    void colourOverridePickRevertAndReset();
    void colourOverrideFollowsChangesMadeElsewhere();

    void desktopNotificationsAreOffByDefaultAndPersist();

    void execValueQuotesWhatTheParserWouldSplit_data();
    void execValueQuotesWhatTheParserWouldSplit();
    void autostartEntryAppearsAndDisappears();
    void startAtLoginReportsAFailure();

};

void TestSettingsRules::parsesOnlyFinitePositiveDecimalNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // NaN: refused

    const double no = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("whole") << "12" << 12.0;
    QTest::newRow("fraction") << "12.5" << 12.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("plus sign") << "+3" << 3.0;
    QTest::newRow("smallest positive") << "5e-324" << 5e-324;
    QTest::newRow("zero") << "0" << no;
    QTest::newRow("negative zero") << "-0" << no;
    QTest::newRow("negative") << "-3" << no;
    QTest::newRow("letters") << "abc" << no;
    QTest::newRow("trailing space") << "12 " << no;
    QTest::newRow("leading space") << " 12" << no;
    QTest::newRow("trailing tab") << "12\t" << no;
    QTest::newRow("comma separator") << "12,5" << no;
    QTest::newRow("grouping") << "1,000" << no;
    QTest::newRow("infinity") << "inf" << no;
    QTest::newRow("Infinity") << "Infinity" << no;
    QTest::newRow("nan") << "nan" << no;
    QTest::newRow("overflow") << "1e999" << no;
    QTest::newRow("hex") << "0x10" << no;
    QTest::newRow("two signs") << "+-3" << no;
    QTest::newRow("sign only") << "+" << no;
    QTest::newRow("empty") << "" << no;
    QTest::newRow("arabic digits") << QString::fromUtf8("\u0661\u0662") << no;
    QTest::newRow("trailing garbage") << "12abc" << no;
}

void TestSettingsRules::parsesOnlyFinitePositiveDecimalNumbers() {
    QFETCH(QString, text);
    QFETCH(double, expected);
    const std::optional<double> parsed = parsePositiveNumber(text);
    if (std::isnan(expected)) {
        QVERIFY2(!parsed, qPrintable(QStringLiteral("accepted as %1").arg(parsed.value_or(0))));
    } else {
        QVERIFY(parsed);
        QCOMPARE(*parsed, expected);
    }
}

void TestSettingsRules::canAddNeedsASymbolAndAUsableNumber() {
    // The decimal point is "." whatever the locale of the user.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(canAdd(QStringLiteral("aapl"), QStringLiteral("12.5")));
    QVERIFY(!canAdd(QStringLiteral("aapl"), QStringLiteral("12,5")));
    QLocale::setDefault(before);

    QVERIFY(canAdd(QStringLiteral(" \taapl "), QStringLiteral("1")));
    QVERIFY(!canAdd(QStringLiteral(" \t "), QStringLiteral("1")));
    QVERIFY(!canAdd(QString(), QStringLiteral("1")));
    for (const char* bad : {"0", "-3", "abc", "12 ", "inf", "1e999"})
        QVERIFY2(!canAdd(QStringLiteral("AAPL"), QLatin1String(bad)), bad);
}

// Every add row of the panes takes the same symbols as the quick-add panel: at most 12
// characters once trimmed.
void TestSettingsRules::addRowsShareTheSymbolLengthLimit_data() {
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<bool>("taken");
    QTest::newRow("12") << "abcdefghijkl" << true;
    QTest::newRow("12 with spaces around") << " \tabcdefghijkl " << true;
    QTest::newRow("13") << "abcdefghijklm" << false;
    QTest::newRow("75") << QString(75, u'x') << false;
}

void TestSettingsRules::addRowsShareTheSymbolLengthLimit() {
    QFETCH(QString, symbol);
    QFETCH(bool, taken);
    Store store;
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    QCOMPARE(SettingsEditor::canAddSymbol(symbol), taken);
    QCOMPARE(editor.addTrackedSymbol(symbol), taken);
    QCOMPARE(canAdd(symbol, QStringLiteral("1")), taken);
    QCOMPARE(editor.addHolding(symbol, QStringLiteral("1")), taken);
    QCOMPARE(editor.addAlert(symbol, QStringLiteral("1"), true), taken);
    QCOMPARE(store.prefs->holdings().size(), taken ? 1 : 0);
    QCOMPARE(store.prefs->priceAlerts().size(), taken ? 1 : 0);
}

void TestSettingsRules::codeStyledText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    const QString open = QStringLiteral("<span style=\"background-color: #20112233\">&nbsp;<span "
                                        "style=\"font-family: monospace; color: #445566\">");
    const QString close = QStringLiteral("</span>&nbsp;</span>");
    QTest::newRow("plain, escaped") << "S&P <500>"
                                    << "S&amp;P &lt;500&gt;";
    QTest::newRow("two code parts") << "use `^GSPC` for the S&P 500, `BRK-B` for"
                                    << "use " + open + "^GSPC" + close + " for the S&amp;P 500, " +
                                           open + "BRK-B" + close + " for";
    QTest::newRow("markup inside code is escaped") << "`<b>`" << open + "&lt;b&gt;" + close;
    QTest::newRow("unpaired backtick kept") << "a `b"
                                            << "a `b";
    QTest::newRow("third backtick kept") << "`a` `b" << open + "a" + close + " `b";
}

void TestSettingsRules::codeStyledText() {
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(
        settings::codeStyledText(text, QColor(0x44, 0x55, 0x66), QColor(0x11, 0x22, 0x33, 0x20)),
        html);
}

void TestSettingsRules::shareCountText_data() {
    QTest::addColumn<double>("shares");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 12.0 << "12";
    QTest::newRow("three") << 3.0 << "3";
    QTest::newRow("half") << 12.5 << "12.5";
    QTest::newRow("eighth") << 0.125 << "0.125";
    QTest::newRow("four places") << 1.2345 << "1.2345";
    QTest::newRow("rounded at four places") << 0.33333 << "0.3333";
    // Rounds up to a whole number at four places: no separator left hanging.
    QTest::newRow("almost whole") << 12.99999 << "13";
    QTest::newRow("tiny") << 0.00001 << "0";
    QTest::newRow("large") << 1e9 << "1000000000";
}

void TestSettingsRules::shareCountText() {
    QFETCH(double, shares);
    QFETCH(QString, text);
    QCOMPARE(settings::shareCountText(shares), text);
}

void TestSettingsRules::rowTexts() {
    QCOMPARE(priceText(187.5), QStringLiteral("$187.50"));
    QCOMPARE(priceText(0.005), QStringLiteral("$0.01"));
    QCOMPARE(spikeRuleText(),
             QStringLiteral("Pulse when a stock crosses 2% vs previous close, moves 1.0% in 5 "
                            "minutes, or sees unusual volume."));
    QCOMPARE(SettingsEditor::versionText(),
             QStringLiteral("Velline v%1 (%2)")
                 .arg(QLatin1String(buildinfo::kVersion), QLatin1String(buildinfo::kBuildNumber)));
    QVERIFY(SettingsEditor::versionText().startsWith(QStringLiteral("Velline v")));

    const QVariantList sections = SettingsEditor::sections();
    QStringList titles;
    for (const QVariant& s : sections)
        titles << s.toMap().value(QStringLiteral("title")).toString();
    QCOMPARE(titles, (QStringList{"General", "Colors", "Stocks", "Portfolio", "Alerts"}));
    const QVariantList modes = SettingsEditor::displayModes();
    QCOMPARE(modes.size(), 4);
    QCOMPARE(modes[2].toMap().value(QStringLiteral("raw")).toString(), QStringLiteral("compact2"));
    QCOMPARE(modes[2].toMap().value(QStringLiteral("title")).toString(),
             QStringLiteral("Compact Mode 2"));
}

void TestSettingsRules::firedTextUsesTheLocalesShortDateAndTime() {
    // TZ is pinned to Europe/Berlin for the tests.
    const double instant =
        double(QDateTime(QDate(2024, 1, 10), QTime(14, 35), Qt::UTC).toSecsSinceEpoch());
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QString expected =
        QStringLiteral("fired ") +
        us.toString(QDateTime(QDate(2024, 1, 10), QTime(15, 35)), QLocale::ShortFormat);
    QCOMPARE(firedText(instant, us), expected);
    QVERIFY(firedText(instant, us).contains(QStringLiteral("3:35")));
    const QLocale de(QLocale::German, QLocale::Germany);
    QVERIFY(firedText(instant, de).contains(QStringLiteral("15:35")));

    QCOMPARE(SettingsEditor::firedText(QVariant()), QString());
    QVERIFY(SettingsEditor::firedText(QVariant(instant)).startsWith(QStringLiteral("fired ")));
}

void TestSettingsRules::stocksAddNormalisesAndRefusesDuplicates() {
    Store store;
    store.prefs->setTrackedSymbols({"AAPL"});
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    QSignalSpy changed(store.prefs.get(), &UserPreferences::trackedSymbolsChanged);

    QVERIFY(editor.addTrackedSymbol(QStringLiteral(" nvda\t")));
    QCOMPARE(store.prefs->trackedSymbols(), (QStringList{"AAPL", "NVDA"}));
    QCOMPARE(changed.size(), 1);
    // Already tracked, blank, only spaces: nothing changes, nothing is written.
    QVERIFY(!editor.addTrackedSymbol(QStringLiteral(" nvda ")));
    QVERIFY(!editor.addTrackedSymbol(QString()));
    QVERIFY(!editor.addTrackedSymbol(QStringLiteral(" \t ")));
    QCOMPARE(changed.size(), 1);
    // Inner spaces stay; line breaks are not trimmed.
    QVERIFY(editor.addTrackedSymbol(QStringLiteral("brk b")));
    QCOMPARE(store.prefs->trackedSymbols().last(), QStringLiteral("BRK B"));
    QVERIFY(SettingsEditor::canAddSymbol(QStringLiteral(" x ")));
    QVERIFY(!SettingsEditor::canAddSymbol(QStringLiteral(" \t")));
    // The quick-add history is left alone, and the list survives a restart.
    QVERIFY(store.prefs->recentlyAdded().isEmpty());
    QCOMPARE(store.reloaded()->trackedSymbols(), (QStringList{"AAPL", "NVDA", "BRK B"}));
}

void TestSettingsRules::stocksRemoveKeepsHoldingsAndAlerts() {
    Store store;
    store.prefs->setTrackedSymbols({"AAPL", "NVDA"});
    store.prefs->setHolding(QStringLiteral("NVDA"), 2);
    store.prefs->addAlert(QStringLiteral("NVDA"), 100, PriceAlert::Direction::above);
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    editor.removeTrackedSymbol(QStringLiteral("NVDA"));
    QCOMPARE(store.prefs->trackedSymbols(), QStringList{"AAPL"});
    QCOMPARE(store.prefs->holdings().size(), 1);
    QCOMPARE(store.prefs->priceAlerts().size(), 1);
    QSignalSpy changed(store.prefs.get(), &UserPreferences::trackedSymbolsChanged);
    editor.removeTrackedSymbol(QStringLiteral("MSFT"));
    QCOMPARE(changed.size(), 0);
}

void TestSettingsRules::portfolioAddAddsOrUpdatesOnlyForAUsableCount() {
    Store store;
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    QSignalSpy changed(store.prefs.get(), &UserPreferences::holdingsChanged);
    for (const char* bad : {"0", "-3", "abc", "12 ", "inf", "1e999"})
        QVERIFY2(!editor.addHolding(QStringLiteral("aapl"), QLatin1String(bad)), bad);
    QVERIFY(!editor.addHolding(QStringLiteral("  "), QStringLiteral("3")));
    QCOMPARE(changed.size(), 0);

    QVERIFY(editor.addHolding(QStringLiteral("msft"), QStringLiteral("3")));
    QVERIFY(editor.addHolding(QStringLiteral("aapl"), QStringLiteral("12")));
    QVERIFY(editor.addHolding(QStringLiteral(" aapl"), QStringLiteral("12.5")));
    const QList<Holding> expected{{"MSFT", 3}, {"AAPL", 12.5}};
    QCOMPARE(store.prefs->holdings(), expected);
    QCOMPARE(store.reloaded()->holdings(), expected);

    editor.removeHolding(QStringLiteral("MSFT"));
    QCOMPARE(store.prefs->holdings(), (QList<Holding>{{"AAPL", 12.5}}));
}

void TestSettingsRules::alertsAddArmsOnlyForAUsablePrice() {
    Store store;
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    for (const char* bad : {"0", "-3", "abc", "12 ", "inf", "nan", "1e999"})
        QVERIFY2(!editor.addAlert(QStringLiteral("aapl"), QLatin1String(bad), true), bad);
    QVERIFY(!editor.addAlert(QStringLiteral("\t"), QStringLiteral("1"), true));
    QVERIFY(store.prefs->priceAlerts().isEmpty());

    QVERIFY(editor.addAlert(QStringLiteral(" aapl "), QStringLiteral("187.5"), false));
    QCOMPARE(store.prefs->priceAlerts().size(), 1);
    const PriceAlert alert = store.prefs->priceAlerts().first();
    QCOMPARE(alert.symbol, QStringLiteral("AAPL"));
    QCOMPARE(alert.price, 187.5);
    QCOMPARE(alert.direction, PriceAlert::Direction::below);
    QVERIFY(!alert.lastTriggered);
    QCOMPARE(store.reloaded()->priceAlerts(), store.prefs->priceAlerts());

    editor.removeAlert(alert.idText());
    QVERIFY(store.prefs->priceAlerts().isEmpty());
}

void TestSettingsRules::removeAlertIgnoresUnknownIds() {
    Store store;
    store.prefs->addAlert(QStringLiteral("AAPL"), 1, PriceAlert::Direction::above);
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    QSignalSpy changed(store.prefs.get(), &UserPreferences::priceAlertsChanged);
    editor.removeAlert(QStringLiteral("not an id"));
    editor.removeAlert(QUuid::createUuid().toString(QUuid::WithoutBraces));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(store.prefs->priceAlerts().size(), 1);
}

void TestSettingsRules::colourOverridePickRevertAndReset() {
    Store store;
    ColorOverride up;
    up.setPrefs(store.prefs.get());
    up.setKey(QStringLiteral("equityUp"));
    ColorOverride down;
    down.setPrefs(store.prefs.get());
    down.setKey(QStringLiteral("futuresDown"));

    // Nothing set: the built-in colours of the notch.
    QVERIFY(!up.isSet());
    QCOMPARE(up.color(), QColor::fromRgbF(0.55f, 0.82f, 0.62f));
    QCOMPARE(down.color(), QColor::fromRgbF(0.62f, 0.48f, 0.88f));

    // A picked colour is stored opaque, as sRGB components.
    up.pick(QColor::fromHsvF(0.5f, 1.0f, 1.0f, 0.3f));
    down.pick(QColor(51, 102, 153));
    QVERIFY(up.isSet());
    QVERIFY(near(store.prefs->colorScheme().equityUp, 0.0, 1.0, 1.0));
    QCOMPARE(up.color().alphaF(), 1.0f);
    QVERIFY(near(store.prefs->colorScheme().futuresDown, 0.2, 0.4, 0.6));
    QCOMPARE(store.reloaded()->colorScheme(), store.prefs->colorScheme());

    // Reverting clears only its own override.
    up.revert();
    QVERIFY(!up.isSet());
    QVERIFY(down.isSet());
    QVERIFY(!store.prefs->colorScheme().equityUp);

    up.pick(QColor(Qt::red));
    SettingsEditor editor;
    editor.setPrefs(store.prefs.get());
    editor.resetColors();
    QCOMPARE(store.prefs->colorScheme(), ColorSchemePrefs());
    QVERIFY(!up.isSet() && !down.isSet());

    // An invalid colour is stored as white; an unknown key does nothing.
    up.pick(QColor());
    QVERIFY(near(store.prefs->colorScheme().equityUp, 1.0, 1.0, 1.0));
    ColorOverride unknown;
    unknown.setPrefs(store.prefs.get());
    unknown.setKey(QStringLiteral("sideways"));
    QSignalSpy schemeChanged(store.prefs.get(), &UserPreferences::colorSchemeChanged);
    unknown.pick(QColor(Qt::blue));
    unknown.revert();
    QCOMPARE(schemeChanged.size(), 0);
    QVERIFY(!unknown.color().isValid());
}

void TestSettingsRules::colourOverrideFollowsChangesMadeElsewhere() {
    Store store;
    ColorOverride up;
    up.setPrefs(store.prefs.get());
    up.setKey(QStringLiteral("equityUp"));
    QSignalSpy changed(&up, &ColorOverride::changed);
    ColorSchemePrefs scheme;
    scheme.equityUp = RGBColor{1, 0, 0};
    store.prefs->setColorScheme(scheme);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(up.color(), QColor(Qt::red));
}

void TestSettingsRules::desktopNotificationsAreOffByDefaultAndPersist() {
    Store store;
    QVERIFY(!store.prefs->desktopNotifications());
    QVERIFY(!store.settings->contains(UserPreferences::kDesktopNotificationsKey));
    store.prefs->setDesktopNotifications(true);
    QVERIFY(store.reloaded()->desktopNotifications());
    // A stored value of the wrong kind falls back to off.
    store.settings->setValue(UserPreferences::kDesktopNotificationsKey, QStringLiteral("yes"));
    QVERIFY(!store.reloaded()->desktopNotifications());
}

void TestSettingsRules::execValueQuotesWhatTheParserWouldSplit_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "/usr/bin/velline"
                           << "/usr/bin/velline";
    QTest::newRow("space") << "/opt/My Apps/velline"
                           << "\"/opt/My Apps/velline\"";
    QTest::newRow("percent") << "/opt/100%/velline"
                             << "\"/opt/100%%/velline\"";
    QTest::newRow("dollar and quote") << "/opt/a$b\"c/velline"
                                      << "\"/opt/a\\\\$b\\\\\"c/velline\"";
    QTest::newRow("backslash") << "/opt/a\\b/velline"
                               << "\"/opt/a\\\\\\\\b/velline\"";
}

void TestSettingsRules::execValueQuotesWhatTheParserWouldSplit() {
    QFETCH(QString, path);
    QFETCH(QString, value);
    QCOMPARE(autostart::execValue(path), value);
}

void TestSettingsRules::autostartEntryAppearsAndDisappears() {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString path =
        config.filePath(QStringLiteral("autostart/") + QLatin1String(buildinfo::kAppId) +
                        QStringLiteral(".desktop"));
    QCOMPARE(autostart::entryPath(), path);

    StartAtLogin login;
    QSignalSpy changed(&login, &StartAtLogin::enabledChanged);
    QVERIFY(!login.isEnabled());
    login.setEnabled(true);
    QVERIFY(QFile::exists(path));
    QVERIFY(login.isEnabled());
    QCOMPARE(login.error(), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
    QVERIFY(text.contains(QStringLiteral("\nExec=") +
                          autostart::execValue(StartAtLogin::executable()) + u'\n'));
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

void TestSettingsRules::startAtLoginReportsAFailure() {
    QTemporaryDir config;
    // "autostart" is a file, so the folder cannot be made.
    QFile blocker(config.filePath(QStringLiteral("autostart")));
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

QTEST_GUILESS_MAIN(TestSettingsRules)
#include "tst_settingsrules.moc"
