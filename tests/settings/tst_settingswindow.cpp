// The real settings window on an X server: one window however often it is shown, its fixed
// size, the sections, typing into the add rows, picking and reverting a colour, the start-at-
// login switch, and changes made elsewhere showing at once.
#include "desktop/buildinfo.h"
#include "prefs/userpreferences.h"
#include "settings/coloroverride.h"
#include "settings/settingswindowcontroller.h"
#include "update/updatedialog.h"
#include "update/updater.h"

#include <QApplication>
#include <QColorDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_SettingsPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

QQuickItem* findItem(QQuickItem* root, const QString& name) {
    if (!root)
        return nullptr;
    if (root->objectName() == name)
        return root;
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QList<QQuickItem*> findItems(QQuickItem* root, const QString& name) {
    QList<QQuickItem*> found;
    if (!root)
        return found;
    if (root->objectName() == name)
        found << root;
    for (QQuickItem* child : root->childItems())
        found << findItems(child, name);
    return found;
}

} // namespace

class TestSettingsWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void showingTwiceMakesOneFixedSizeWindow();
    void sectionsSwitchTheDetailOnly();
    void closingKeepsSelectionAndFieldTexts();
    void stocksReturnAddsOnceAndKeepsTheTextOfADuplicate();
    void portfolioAddRefusesUnusableCounts();
    void alertsAddRefusesUnusablePricesAndKeepsTheDirection();
    void colourPickAndRevert();
    void startAtLoginWritesAndRemovesTheEntry();
    void changesMadeElsewhereShowAtOnce();
    void displayModeTilesWriteThePreference();
    void longStoredSymbolStaysRemovable();
    void generalPaneShowsItsSectionsWithoutScrolling();
    void updatesCardWithoutAFeedExplainsItself();
    void updatesCardWithAFeedHasItsSwitch();
    void alertsDirectionIsOneTabStop();

private:
    QQuickItem* pane(const QString& key);
    void select(const QString& key);
    void click(QQuickItem* item);
    void typeInto(QQuickItem* field, const QString& text);
    void scrollDetail(bool toEnd);

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<UserPreferences> m_prefs;
    std::unique_ptr<SettingsWindowController> m_controller;
    QQuickWindow* m_window = nullptr;
    std::unique_ptr<Updater> m_updater;
};

void TestSettingsWindow::initTestCase() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    m_settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("Velline.ini")),
                                             QSettings::IniFormat);
    m_prefs = std::make_unique<UserPreferences>(m_settings.get());
    m_prefs->setTrackedSymbols({"AAPL", "MSFT"});
    // As in a build without a release feed, the default.
    Updater::Options updates;
    updates.settings = m_settings.get();
    m_updater = std::make_unique<Updater>(updates);
    m_controller = std::make_unique<SettingsWindowController>();
    m_controller->setPrefs(m_prefs.get());
    m_controller->setUpdater(m_updater.get());
    m_controller->show();
    m_window = m_controller->window();
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestSettingsWindow::cleanupTestCase() {
    m_controller.reset();
}

QQuickItem* TestSettingsWindow::pane(const QString& key) {
    auto* loader = findItem(m_window->contentItem(), QStringLiteral("pane-") + key);
    return loader ? loader->property("item").value<QQuickItem*>() : nullptr;
}

void TestSettingsWindow::select(const QString& key) {
    click(findItem(m_window->contentItem(), QStringLiteral("section-") + key));
    QTRY_VERIFY(pane(key) && pane(key)->isVisible());
}

void TestSettingsWindow::click(QQuickItem* item) {
    QVERIFY(item);
    QVERIFY(item->isVisible());
    // Positioners lay out when the window is polished: click where the item is drawn.
    QVERIFY(QQuickTest::qWaitForPolish(m_window));
    const QPoint centre =
        item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::mouseClick(m_window, Qt::LeftButton, {}, centre);
}

void TestSettingsWindow::typeInto(QQuickItem* field, const QString& text) {
    QVERIFY(field);
    click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    for (QChar c : text)
        QTest::keyClick(m_window, char(c.toLatin1()));
}

// Scrolls the selected pane to its end (as a user would to reach what is below the fold) or
// back to its top.
void TestSettingsWindow::scrollDetail(bool toEnd) {
    QQuickItem* detail = findItem(m_window->contentItem(), QStringLiteral("detail"));
    QVERIFY(detail);
    auto* flickable = detail->property("contentItem").value<QQuickItem*>();
    QVERIFY(flickable);
    QVERIFY(QQuickTest::qWaitForPolish(m_window));
    const qreal end = flickable->property("contentHeight").toReal() - flickable->height();
    flickable->setProperty("contentY", toEnd ? qMax<qreal>(0, end) : 0.0);
    QVERIFY(QQuickTest::qWaitForPolish(m_window));
}

void TestSettingsWindow::showingTwiceMakesOneFixedSizeWindow() {
    QSignalSpy created(m_controller.get(), &SettingsWindowController::windowCreated);
    m_controller->show();
    m_controller->show();
    QCOMPARE(m_controller->window(), m_window);
    QCOMPARE(created.size(), 0);
    int settingsWindows = 0;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        settingsWindows += w->title() == QLatin1String("Velline Settings");
    QCOMPARE(settingsWindows, 1);

    QCOMPARE(m_window->title(), QStringLiteral("Velline Settings"));
    QCOMPARE(m_window->size(), QSize(820, 640));
    QCOMPARE(m_window->minimumSize(), QSize(820, 640));
    QCOMPARE(m_window->maximumSize(), QSize(820, 640));
    QCOMPARE(m_window->contentItem()->size(), QSizeF(820, 640));
    // Centred on the screen under the pointer.
    const QRect area = m_window->screen()->availableGeometry();
    QVERIFY(qAbs(m_window->geometry().center().x() - area.center().x()) <= 40);
    QVERIFY(qAbs(m_window->geometry().center().y() - area.center().y()) <= 40);
    QVERIFY(m_window->isActive());
}

void TestSettingsWindow::sectionsSwitchTheDetailOnly() {
    QQuickItem* root = m_window->contentItem();
    QObject* view = findItem(root, QStringLiteral("settingsView"));
    QCOMPARE(view->property("selection").toString(), QStringLiteral("general"));
    const QStringList keys{"general", "colors", "stocks", "portfolio", "alerts"};
    const QStringList titles{"General", "Colors", "Stocks", "Portfolio", "Alerts"};
    for (int i = keys.size() - 1; i >= 0; --i) {
        select(keys[i]);
        QCOMPARE(view->property("selection").toString(), keys[i]);
        QCOMPARE(findItem(root, QStringLiteral("detailTitle"))->property("text").toString(),
                 titles[i]);
        for (const QString& other : keys) {
            QCOMPARE(
                findItem(root, QStringLiteral("section-") + other)->property("selected").toBool(),
                other == keys[i]);
            if (other != keys[i] && pane(other))
                QVERIFY(!pane(other)->isVisible());
        }
        // The sidebar stays where it is.
        QCOMPARE(findItem(root, QStringLiteral("section-general"))->mapToScene({0, 0}).x(), 8.0);
    }
}

void TestSettingsWindow::closingKeepsSelectionAndFieldTexts() {
    select(QStringLiteral("portfolio"));
    QQuickItem* shares = findItem(pane(QStringLiteral("portfolio")), QStringLiteral("sharesField"));
    typeInto(shares, QStringLiteral("7"));
    m_window->close();
    QTRY_VERIFY(!m_window->isVisible());
    m_controller->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(m_controller->window(), m_window);
    QVERIFY(pane(QStringLiteral("portfolio"))->isVisible());
    QCOMPARE(shares->property("text").toString(), QStringLiteral("7"));
    shares->setProperty("text", QString());
}

void TestSettingsWindow::stocksReturnAddsOnceAndKeepsTheTextOfADuplicate() {
    select(QStringLiteral("stocks"));
    QQuickItem* stocks = pane(QStringLiteral("stocks"));
    QQuickItem* field = findItem(stocks, QStringLiteral("symbolField"));
    QQuickItem* add = findItem(stocks, QStringLiteral("addButton"));
    QVERIFY(!add->isEnabled());

    typeInto(field, QStringLiteral(" nvda "));
    QVERIFY(add->isEnabled());
    QTest::keyClick(m_window, Qt::Key_Return);
    QCOMPARE(m_prefs->trackedSymbols(), (QStringList{"AAPL", "MSFT", "NVDA"}));
    QCOMPARE(field->property("text").toString(), QString());
    QCOMPARE(findItem(stocks, QStringLiteral("countCaption"))->property("text").toString(),
             QStringLiteral("Tracked (3)"));

    typeInto(field, QStringLiteral(" nvda "));
    QTest::keyClick(m_window, Qt::Key_Return);
    QCOMPARE(m_prefs->trackedSymbols(), (QStringList{"AAPL", "MSFT", "NVDA"}));
    QCOMPARE(field->property("text").toString(), QStringLiteral(" nvda "));
    // The button does the same as Return.
    click(add);
    QCOMPARE(m_prefs->trackedSymbols().size(), 3);
    QCOMPARE(field->property("text").toString(), QStringLiteral(" nvda "));
    field->setProperty("text", QString());
}

void TestSettingsWindow::portfolioAddRefusesUnusableCounts() {
    select(QStringLiteral("portfolio"));
    QQuickItem* portfolio = pane(QStringLiteral("portfolio"));
    QQuickItem* symbol = findItem(portfolio, QStringLiteral("symbolField"));
    QQuickItem* shares = findItem(portfolio, QStringLiteral("sharesField"));
    QQuickItem* add = findItem(portfolio, QStringLiteral("addButton"));
    symbol->setProperty("text", QStringLiteral("aapl"));
    for (const char* bad : {"0", "-3", "abc", "12 ", "inf"}) {
        shares->setProperty("text", QLatin1String(bad));
        QVERIFY2(!add->isEnabled(), bad);
        click(add);
        QVERIFY2(m_prefs->holdings().isEmpty(), bad);
        QCOMPARE(shares->property("text").toString(), QLatin1String(bad));
    }
    shares->setProperty("text", QString());
    typeInto(shares, QStringLiteral("12.5"));
    QVERIFY(add->isEnabled());
    click(add);
    QCOMPARE(m_prefs->holdings(), (QList<Holding>{{"AAPL", 12.5}}));
    QCOMPARE(symbol->property("text").toString(), QString());
    QCOMPARE(shares->property("text").toString(), QString());
    QCOMPARE(findItem(portfolio, QStringLiteral("shareCount"))->property("text").toString(),
             QStringLiteral("12.5"));
}

void TestSettingsWindow::alertsAddRefusesUnusablePricesAndKeepsTheDirection() {
    select(QStringLiteral("alerts"));
    QQuickItem* alerts = pane(QStringLiteral("alerts"));
    QQuickItem* symbol = findItem(alerts, QStringLiteral("symbolField"));
    QQuickItem* price = findItem(alerts, QStringLiteral("priceField"));
    QQuickItem* add = findItem(alerts, QStringLiteral("addButton"));
    click(findItem(alerts, QStringLiteral("belowButton")));
    symbol->setProperty("text", QStringLiteral("nvda"));
    for (const char* bad : {"0", "-3", "abc", "12 ", "inf"}) {
        price->setProperty("text", QLatin1String(bad));
        QVERIFY2(!add->isEnabled(), bad);
        click(add);
        QVERIFY2(m_prefs->priceAlerts().isEmpty(), bad);
    }
    price->setProperty("text", QStringLiteral("118.5"));
    click(add);
    QCOMPARE(m_prefs->priceAlerts().size(), 1);
    QCOMPARE(m_prefs->priceAlerts().first().symbol, QStringLiteral("NVDA"));
    QCOMPARE(m_prefs->priceAlerts().first().direction, PriceAlert::Direction::below);
    QCOMPARE(symbol->property("text").toString(), QString());
    QCOMPARE(price->property("text").toString(), QString());
    // The direction stays as chosen for the next alert.
    QVERIFY(alerts->property("above").isValid());
    QVERIFY(!alerts->property("above").toBool());
    QVERIFY(findItem(alerts, QStringLiteral("belowButton"))->property("highlighted").toBool());
    // Never fired: no "fired" text.
    QVERIFY(!findItem(alerts, QStringLiteral("firedText"))->isVisible());
}

void TestSettingsWindow::colourPickAndRevert() {
    select(QStringLiteral("colors"));
    QQuickItem* colors = pane(QStringLiteral("colors"));
    QQuickItem* row = findItem(colors, QStringLiteral("equityUpRow"));
    QQuickItem* revert = findItem(row, QStringLiteral("revert"));
    QQuickItem* swatch = findItem(row, QStringLiteral("swatch"));
    QVERIFY(!revert->isVisible());
    QCOMPARE(swatch->width(), 36.0);

    click(swatch);
    QColorDialog* dialog = ColorOverride::dialog();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    // Opaque colours only, starting from the colour on the swatch.
    QVERIFY(!dialog->testOption(QColorDialog::ShowAlphaChannel));
    QCOMPARE(dialog->currentColor().rgb(), QColor::fromRgbF(0.55f, 0.82f, 0.62f).rgb());
    dialog->setCurrentColor(QColor(51, 102, 153));
    dialog->accept();
    QTRY_VERIFY(revert->isVisible());
    QVERIFY(!dialog->isVisible());
    const auto up = m_prefs->colorScheme().equityUp;
    QVERIFY(up);
    QVERIFY(qAbs(up->red - 0.2) < 1e-6 && qAbs(up->green - 0.4) < 1e-6 &&
            qAbs(up->blue - 0.6) < 1e-6);
    ColorSchemePrefs scheme = m_prefs->colorScheme();
    scheme.futuresDown = RGBColor{1, 0, 0};
    m_prefs->setColorScheme(scheme);

    click(revert);
    QTRY_VERIFY(!revert->isVisible());
    QVERIFY(!m_prefs->colorScheme().equityUp);
    QVERIFY(m_prefs->colorScheme().futuresDown);
    click(findItem(colors, QStringLiteral("resetColors")));
    QCOMPARE(m_prefs->colorScheme(), ColorSchemePrefs());
}

void TestSettingsWindow::startAtLoginWritesAndRemovesTheEntry() {
    select(QStringLiteral("general"));
    const QString entry =
        m_dir.filePath(QStringLiteral("config/autostart/") + QLatin1String(buildinfo::kAppId) +
                       QStringLiteral(".desktop"));
    QQuickItem* toggle =
        findItem(pane(QStringLiteral("general")), QStringLiteral("startAtLoginSwitch"));
    scrollDetail(true); // it comes after the sections that must fit the window
    QVERIFY(!toggle->property("checked").toBool());
    click(toggle);
    QVERIFY(QFile::exists(entry));
    QTRY_VERIFY(toggle->property("checked").toBool());
    click(toggle);
    QVERIFY(!QFile::exists(entry));
    QTRY_VERIFY(!toggle->property("checked").toBool());

    // Written elsewhere while the window was hidden: the switch shows it on the next show.
    m_window->close();
    QFile file(entry);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    m_controller->show();
    QTRY_VERIFY(toggle->property("checked").toBool());
    QVERIFY(QFile::remove(entry));
    scrollDetail(false);
}

void TestSettingsWindow::changesMadeElsewhereShowAtOnce() {
    select(QStringLiteral("stocks"));
    QQuickItem* stocks = pane(QStringLiteral("stocks"));
    const int before = m_prefs->trackedSymbols().size();
    m_prefs->addSymbol(QStringLiteral("amd")); // as the quick-add panel does
    QCOMPARE(findItem(stocks, QStringLiteral("countCaption"))->property("text").toString(),
             QStringLiteral("Tracked (%1)").arg(before + 1));
    QStringList symbols = m_prefs->trackedSymbols();
    symbols.removeAll(QStringLiteral("AMD")); // as the card's remove button does
    m_prefs->setTrackedSymbols(symbols);
    QCOMPARE(findItem(stocks, QStringLiteral("countCaption"))->property("text").toString(),
             QStringLiteral("Tracked (%1)").arg(before));

    // An alert firing shows its "fired" time.
    select(QStringLiteral("alerts"));
    QVERIFY(!m_prefs->priceAlerts().isEmpty());
    m_prefs->markAlertTriggered(m_prefs->priceAlerts().first().id, 1704898800);
    QQuickItem* fired = findItem(pane(QStringLiteral("alerts")), QStringLiteral("firedText"));
    QVERIFY(fired->isVisible());
    QVERIFY(fired->property("text").toString().startsWith(QStringLiteral("fired ")));

    // The notification switch writes its preference.
    QQuickItem* notify = findItem(pane(QStringLiteral("alerts")), QStringLiteral("notifySwitch"));
    QVERIFY(!notify->property("checked").toBool());
    click(notify);
    QVERIFY(m_prefs->desktopNotifications());
    m_prefs->setDesktopNotifications(false);
    QVERIFY(!notify->property("checked").toBool());
}

void TestSettingsWindow::displayModeTilesWriteThePreference() {
    select(QStringLiteral("general"));
    QQuickItem* general = pane(QStringLiteral("general"));
    QQuickItem* tile = findItem(general, QStringLiteral("mode-compact2"));
    click(tile);
    QCOMPARE(m_prefs->displayMode(), DisplayMode::compactLogo);
    QCOMPARE(findItem(tile, QStringLiteral("preview"))
                 ->property("border")
                 .value<QObject*>()
                 ->property("width")
                 .toReal(),
             2.0);
    QCOMPARE(findItems(general, QStringLiteral("preview")).size(), 4);
    // Changed elsewhere (vellinectl prefs): the tiles follow.
    m_prefs->setDisplayMode(DisplayMode::regular);
    QCOMPARE(findItem(tile, QStringLiteral("preview"))
                 ->property("border")
                 .value<QObject*>()
                 ->property("width")
                 .toReal(),
             1.0);
}

// A symbol far longer than a row (stored by an older version or by hand) is elided, and its
// remove button stays inside the window and works.
void TestSettingsWindow::longStoredSymbolStaysRemovable() {
    const QString longSymbol(75, u'W');
    const QStringList before = m_prefs->trackedSymbols();
    m_prefs->setTrackedSymbols(before + QStringList{longSymbol});
    select(QStringLiteral("stocks"));
    QQuickItem* stocks = pane(QStringLiteral("stocks"));
    QVERIFY(QQuickTest::qWaitForPolish(m_window));
    QQuickItem* remove = nullptr;
    for (QQuickItem* b : findItems(stocks, QStringLiteral("removeButton")))
        if (b->property("help").toString() == QStringLiteral("Stop tracking ") + longSymbol)
            remove = b;
    QVERIFY(remove);
    const QRectF drawn = remove->mapRectToScene(QRectF(0, 0, remove->width(), remove->height()));
    QVERIFY2(QRectF(0, 0, 820, 640).contains(drawn), qPrintable(QString::number(drawn.right())));
    bool elided = false;
    for (QQuickItem* t : findItems(stocks, QStringLiteral("symbolText"))) {
        if (t->property("text").toString() == longSymbol) {
            elided = t->property("truncated").toBool();
            QVERIFY(t->mapRectToScene(QRectF(0, 0, t->width(), t->height())).right() <
                    drawn.left());
        }
    }
    QVERIFY(elided);
    m_window->grabWindow().save(QStringLiteral("settings-stocks-long-symbol.png"));
    click(remove);
    QCOMPARE(m_prefs->trackedSymbols(), before);
}

// What the General pane shows first: every section down to the Updates card's button fits
// the window without scrolling; start at login comes after them.
void TestSettingsWindow::generalPaneShowsItsSectionsWithoutScrolling() {
    select(QStringLiteral("general"));
    QQuickItem* general = pane(QStringLiteral("general"));
    QVERIFY(QQuickTest::qWaitForPolish(m_window));
    auto bottom = [](QQuickItem* item) {
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).bottom();
    };
    QQuickItem* check = findItem(general, QStringLiteral("checkForUpdates"));
    QVERIFY(bottom(check) <= 640);
    QVERIFY(bottom(findItem(general, QStringLiteral("futuresSwitch"))) < bottom(check));
    QVERIFY(bottom(findItem(general, QStringLiteral("startAtLoginSwitch"))) > bottom(check));
}

void TestSettingsWindow::updatesCardWithoutAFeedExplainsItself() {
    select(QStringLiteral("general"));
    QQuickItem* general = pane(QStringLiteral("general"));
    QVERIFY(!findItem(general, QStringLiteral("autoUpdateSwitch"))->isVisible());
    QVERIFY(findItem(general, QStringLiteral("autoUpdateRow"))
                ->property("subtitle")
                .toString()
                .contains(QStringLiteral("updated by the system's package manager")));
    QQuickItem* check = findItem(general, QStringLiteral("checkForUpdates"));
    QVERIFY(check->isEnabled());
    // Twice: the window answers Return also when it is shown again after closing.
    for (int round = 0; round < 2; ++round) {
        click(check);
        UpdateDialog* explanation = m_updater->dialog();
        QVERIFY(explanation);
        QVERIFY(QTest::qWaitForWindowActive(explanation));
        QCOMPARE(explanation->findChild<QLabel*>(QStringLiteral("headline"))->text(),
                 QStringLiteral("Velline is updated by your package manager"));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : explanation, Qt::Key_Return);
        QTRY_VERIFY(!explanation->isVisible());
        QCOMPARE(m_updater->phase(), Updater::Phase::idle);
        m_controller->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }
}

void TestSettingsWindow::updatesCardWithAFeedHasItsSwitch() {
    Updater::Options updates;
    updates.feedUrl = QUrl(QStringLiteral("https://127.0.0.1:9/appcast.xml")); // never read
    updates.settings = m_settings.get();
    updates.showsDialogs = false;
    Updater withFeed(updates);
    QObject* view = findItem(m_window->contentItem(), QStringLiteral("settingsView"));
    view->setProperty("updater", QVariant::fromValue<QObject*>(&withFeed));
    select(QStringLiteral("general"));
    QQuickItem* general = pane(QStringLiteral("general"));
    QQuickItem* toggle = findItem(general, QStringLiteral("autoUpdateSwitch"));
    QVERIFY(toggle->isVisible());
    QVERIFY(toggle->property("checked").toBool());
    QVERIFY(findItem(general, QStringLiteral("autoUpdateRow"))
                ->property("subtitle")
                .toString()
                .contains(QStringLiteral("release feed")));
    click(toggle);
    QVERIFY(!withFeed.automaticallyChecksForUpdates());
    QTRY_VERIFY(!toggle->property("checked").toBool());
    view->setProperty("updater", QVariant::fromValue<QObject*>(m_updater.get()));
    QVERIFY(!toggle->isVisible());
}

// Tab reaches the direction picker once and leaves it for the price; the arrows choose.
void TestSettingsWindow::alertsDirectionIsOneTabStop() {
    select(QStringLiteral("alerts"));
    QQuickItem* alerts = pane(QStringLiteral("alerts"));
    QQuickItem* picker = findItem(alerts, QStringLiteral("directionPicker"));
    typeInto(findItem(alerts, QStringLiteral("symbolField")), QString());
    QTest::keyClick(m_window, Qt::Key_Tab);
    QTRY_VERIFY(picker->hasActiveFocus());
    QTest::keyClick(m_window, Qt::Key_Left);
    QVERIFY(alerts->property("above").toBool());
    QVERIFY(findItem(alerts, QStringLiteral("aboveButton"))->property("highlighted").toBool());
    QTest::keyClick(m_window, Qt::Key_Right);
    QVERIFY(!alerts->property("above").toBool());
    QVERIFY(findItem(alerts, QStringLiteral("belowButton"))->property("highlighted").toBool());
    QTest::keyClick(m_window, Qt::Key_Tab);
    QTRY_VERIFY(findItem(alerts, QStringLiteral("priceField"))->hasActiveFocus());
    QTest::keyClick(m_window, Qt::Key_Backtab);
    QTRY_VERIFY(picker->hasActiveFocus());
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
