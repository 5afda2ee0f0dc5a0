// The real settings window on an X server: one window however often it is shown, its fixed
// size, the sections, typing into the add rows, picking and reverting a colour, the start-at-
// login switch, and changes made elsewhere showing at once. What the add rows accept is the
// editor's to decide (tst_settingsrules); here each row shows that it asks.
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
using namespace Qt::StringLiterals;

namespace {

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

QQuickItem* findItem(QQuickItem* root, const QString& name) {
    return findItems(root, name).value(0);
}

QString text(QObject* item) {
    return item->property("text").toString();
}

bool checked(QObject* item) {
    return item->property("checked").toBool();
}

QRectF sceneRect(QQuickItem* item) {
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

} // namespace

class TestSettingsWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<UserPreferences> m_prefs;
    std::unique_ptr<SettingsWindowController> m_controller;
    QQuickWindow* m_window = nullptr;
    std::unique_ptr<Updater> m_updater;

    QQuickItem* find(const QString& name) { return findItem(m_window->contentItem(), name); }

    QQuickItem* pane(const QString& key) {
        auto* loader = find(u"pane-"_s + key);
        return loader ? loader->property("item").value<QQuickItem*>() : nullptr;
    }

    // Clicks the section in the sidebar; its pane, once shown.
    QQuickItem* select(const QString& key) {
        click(find(u"section-"_s + key));
        QTest::qVerify(QTest::qWaitFor([&] { return pane(key) && pane(key)->isVisible(); }),
                       "pane shown", key.toUtf8().constData(), __FILE__, __LINE__);
        return pane(key);
    }

    void click(QQuickItem* item) {
        QVERIFY(item);
        QVERIFY(item->isVisible());
        // Positioners lay out when the window is polished: click where the item is drawn.
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
        QTest::mouseClick(m_window, Qt::LeftButton, {}, sceneRect(item).center().toPoint());
    }

    void typeInto(QQuickItem* field, const QString& typed) {
        click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        for (QChar c : typed)
            QTest::keyClick(m_window, char(c.toLatin1()));
    }

    // Scrolls the selected pane to its end (as a user would to reach what is below the fold) or
    // back to its top.
    void scrollDetail(bool toEnd) {
        auto* flickable = find(u"detail"_s)->property("contentItem").value<QQuickItem*>();
        QVERIFY(flickable);
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
        const qreal end = flickable->property("contentHeight").toReal() - flickable->height();
        flickable->setProperty("contentY", toEnd ? qMax<qreal>(0, end) : 0.0);
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
    }

    void showAgain() {
        m_controller->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(u"config"_s)));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        m_settings =
            std::make_unique<QSettings>(m_dir.filePath(u"Velline.ini"_s), QSettings::IniFormat);
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

    void cleanupTestCase() { m_controller.reset(); }

    void showingTwiceMakesOneFixedSizeWindow() {
        QSignalSpy created(m_controller.get(), &SettingsWindowController::windowCreated);
        m_controller->show();
        m_controller->show();
        QCOMPARE(m_controller->window(), m_window);
        QCOMPARE(created.size(), 0);
        int settingsWindows = 0;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            settingsWindows += w->title() == "Velline Settings"_L1;
        QCOMPARE(settingsWindows, 1);

        QCOMPARE(m_window->size(), QSize(820, 640));
        QCOMPARE(m_window->minimumSize(), QSize(820, 640));
        QCOMPARE(m_window->maximumSize(), QSize(820, 640));
        QCOMPARE(m_window->contentItem()->size(), QSizeF(820, 640));
        // Centred on the screen under the pointer.
        const QPoint offset =
            m_window->geometry().center() - m_window->screen()->availableGeometry().center();
        QVERIFY(qAbs(offset.x()) <= 40 && qAbs(offset.y()) <= 40);
        QVERIFY(m_window->isActive());
    }

    void sectionsSwitchTheDetailOnly() {
        QObject* view = find(u"settingsView"_s);
        QCOMPARE(view->property("selection").toString(), u"general"_s);
        const QStringList keys{"general", "colors", "stocks", "portfolio", "alerts"};
        const QStringList titles{"General", "Colors", "Stocks", "Portfolio", "Alerts"};
        for (int i = keys.size() - 1; i >= 0; --i) {
            select(keys[i]);
            QCOMPARE(view->property("selection").toString(), keys[i]);
            QCOMPARE(text(find(u"detailTitle"_s)), titles[i]);
            for (const QString& other : keys) {
                QCOMPARE(find(u"section-"_s + other)->property("selected").toBool(),
                         other == keys[i]);
                if (other != keys[i] && pane(other))
                    QVERIFY(!pane(other)->isVisible());
            }
            // The sidebar stays where it is.
            QCOMPARE(find(u"section-general"_s)->mapToScene({0, 0}).x(), 8.0);
        }
    }

    void stocksReturnAddsOnceAndKeepsTheTextOfADuplicate() {
        QQuickItem* stocks = select(u"stocks"_s);
        QQuickItem* field = findItem(stocks, u"symbolField"_s);
        QQuickItem* add = findItem(stocks, u"addButton"_s);
        QVERIFY(!add->isEnabled());

        typeInto(field, u" nvda "_s);
        QVERIFY(add->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_prefs->trackedSymbols(), (QStringList{"AAPL", "MSFT", "NVDA"}));
        QCOMPARE(text(field), QString());
        QCOMPARE(text(findItem(stocks, u"countCaption"_s)), u"Tracked (3)"_s);

        typeInto(field, u" nvda "_s);
        QTest::keyClick(m_window, Qt::Key_Return);
        QCOMPARE(m_prefs->trackedSymbols(), (QStringList{"AAPL", "MSFT", "NVDA"}));
        QCOMPARE(text(field), u" nvda "_s);
        // The button does the same as Return.
        click(add);
        QCOMPARE(m_prefs->trackedSymbols().size(), 3);
        QCOMPARE(text(field), u" nvda "_s);
        field->setProperty("text", QString());
    }

    // Also: closing the window keeps the section and what was typed.
    void portfolioAddTakesOnlyAUsableCount() {
        QQuickItem* portfolio = select(u"portfolio"_s);
        QQuickItem* symbol = findItem(portfolio, u"symbolField"_s);
        QQuickItem* shares = findItem(portfolio, u"sharesField"_s);
        QQuickItem* add = findItem(portfolio, u"addButton"_s);
        symbol->setProperty("text", u"aapl"_s);
        shares->setProperty("text", u"0"_s);
        QVERIFY(!add->isEnabled());
        click(add);
        QVERIFY(m_prefs->holdings().isEmpty());
        QCOMPARE(text(shares), u"0"_s);

        shares->setProperty("text", QString());
        typeInto(shares, u"12.5"_s);
        m_window->close();
        QTRY_VERIFY(!m_window->isVisible());
        showAgain();
        QCOMPARE(m_controller->window(), m_window);
        QVERIFY(portfolio->isVisible());
        QCOMPARE(text(shares), u"12.5"_s);
        QVERIFY(add->isEnabled());
        click(add);
        QCOMPARE(m_prefs->holdings(), (QList<Holding>{{"AAPL", 12.5}}));
        QCOMPARE(text(symbol), QString());
        QCOMPARE(text(shares), QString());
        QCOMPARE(text(findItem(portfolio, u"shareCount"_s)), u"12.5"_s);
    }

    // Tab reaches the direction picker once and leaves it for the price; the arrows choose, and
    // the direction stays as chosen for the next alert.
    void alertsAddTakesOnlyAUsablePriceAndKeepsTheDirection() {
        QQuickItem* alerts = select(u"alerts"_s);
        QQuickItem* symbol = findItem(alerts, u"symbolField"_s);
        QQuickItem* price = findItem(alerts, u"priceField"_s);
        QQuickItem* picker = findItem(alerts, u"directionPicker"_s);
        QQuickItem* add = findItem(alerts, u"addButton"_s);
        const auto above = [&] { return alerts->property("above").toBool(); };
        const auto highlighted = [&](const QString& name) {
            return findItem(alerts, name)->property("highlighted").toBool();
        };
        click(findItem(alerts, u"belowButton"_s));
        QVERIFY(!above());
        typeInto(symbol, u"nvda"_s);
        QTest::keyClick(m_window, Qt::Key_Tab);
        QTRY_VERIFY(picker->hasActiveFocus());
        QTest::keyClick(m_window, Qt::Key_Left);
        QVERIFY(above() && highlighted(u"aboveButton"_s));
        QTest::keyClick(m_window, Qt::Key_Right);
        QVERIFY(!above() && highlighted(u"belowButton"_s));
        QTest::keyClick(m_window, Qt::Key_Tab);
        QTRY_VERIFY(price->hasActiveFocus());
        QTest::keyClick(m_window, Qt::Key_Backtab);
        QTRY_VERIFY(picker->hasActiveFocus());

        price->setProperty("text", u"-3"_s);
        QVERIFY(!add->isEnabled());
        click(add);
        QVERIFY(m_prefs->priceAlerts().isEmpty());
        price->setProperty("text", u"118.5"_s);
        click(add);
        QCOMPARE(m_prefs->priceAlerts().size(), 1);
        QCOMPARE(m_prefs->priceAlerts().first().symbol, u"NVDA"_s);
        QCOMPARE(m_prefs->priceAlerts().first().direction, PriceAlert::Direction::below);
        QCOMPARE(text(symbol), QString());
        QCOMPARE(text(price), QString());
        QVERIFY(!above() && highlighted(u"belowButton"_s));
        // Never fired: no "fired" text.
        QVERIFY(!findItem(alerts, u"firedText"_s)->isVisible());
    }

    void colourPickAndRevert() {
        QQuickItem* colors = select(u"colors"_s);
        QQuickItem* row = findItem(colors, u"equityUpRow"_s);
        QQuickItem* revert = findItem(row, u"revert"_s);
        QQuickItem* swatch = findItem(row, u"swatch"_s);
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

        click(revert);
        QTRY_VERIFY(!revert->isVisible());
        QVERIFY(!m_prefs->colorScheme().equityUp);
        m_prefs->setColorScheme({RGBColor{1, 0, 0}, {}, {}, {}});
        click(findItem(colors, u"resetColors"_s));
        QCOMPARE(m_prefs->colorScheme(), ColorSchemePrefs());
    }

    // What the General pane shows first: every section down to the Updates card's button fits
    // the window without scrolling; the start-at-login switch comes after them.
    void startAtLoginWritesAndRemovesTheEntry() {
        QQuickItem* general = select(u"general"_s);
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
        const auto bottom = [&](const QString& name) {
            return sceneRect(findItem(general, name)).bottom();
        };
        QVERIFY(bottom(u"checkForUpdates"_s) <= 640);
        QVERIFY(bottom(u"futuresSwitch"_s) < bottom(u"checkForUpdates"_s));
        QVERIFY(bottom(u"startAtLoginSwitch"_s) > bottom(u"checkForUpdates"_s));

        const QString entry = m_dir.filePath(u"config/autostart/"_s +
                                             QLatin1String(buildinfo::kAppId) + u".desktop"_s);
        QQuickItem* toggle = findItem(general, u"startAtLoginSwitch"_s);
        scrollDetail(true);
        QVERIFY(!checked(toggle));
        click(toggle);
        QVERIFY(QFile::exists(entry));
        QTRY_VERIFY(checked(toggle));
        click(toggle);
        QVERIFY(!QFile::exists(entry));
        QTRY_VERIFY(!checked(toggle));

        // Written elsewhere while the window was hidden: the switch shows it on the next show.
        m_window->close();
        QFile file(entry);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        m_controller->show();
        QTRY_VERIFY(checked(toggle));
        QVERIFY(QFile::remove(entry));
        scrollDetail(false);
    }

    void changesMadeElsewhereShowAtOnce() {
        QQuickItem* stocks = select(u"stocks"_s);
        QQuickItem* count = findItem(stocks, u"countCaption"_s);
        const int before = m_prefs->trackedSymbols().size();
        m_prefs->addSymbol(u"amd"_s); // as the quick-add panel does
        QCOMPARE(text(count), u"Tracked (%1)"_s.arg(before + 1));
        QStringList symbols = m_prefs->trackedSymbols();
        symbols.removeAll(u"AMD"_s); // as the card's remove button does
        m_prefs->setTrackedSymbols(symbols);
        QCOMPARE(text(count), u"Tracked (%1)"_s.arg(before));

        // An alert firing shows its "fired" time.
        QQuickItem* alerts = select(u"alerts"_s);
        QVERIFY(!m_prefs->priceAlerts().isEmpty());
        m_prefs->markAlertTriggered(m_prefs->priceAlerts().first().id, 1704898800);
        QQuickItem* fired = findItem(alerts, u"firedText"_s);
        QVERIFY(fired->isVisible());
        QVERIFY(text(fired).startsWith(u"fired "_s));

        // The notification switch writes its preference.
        QQuickItem* notify = findItem(alerts, u"notifySwitch"_s);
        QVERIFY(!checked(notify));
        click(notify);
        QVERIFY(m_prefs->desktopNotifications());
        m_prefs->setDesktopNotifications(false);
        QVERIFY(!checked(notify));
    }

    void displayModeTilesWriteThePreference() {
        QQuickItem* general = select(u"general"_s);
        QQuickItem* tile = findItem(general, u"mode-compact2"_s);
        const auto borderWidth = [&] {
            QObject* border = findItem(tile, u"preview"_s)->property("border").value<QObject*>();
            return border->property("width").toReal();
        };
        click(tile);
        QCOMPARE(m_prefs->displayMode(), DisplayMode::compactLogo);
        QCOMPARE(borderWidth(), 2.0);
        QCOMPARE(findItems(general, u"preview"_s).size(), 4);
        // Changed elsewhere (vellinectl prefs): the tiles follow.
        m_prefs->setDisplayMode(DisplayMode::regular);
        QCOMPARE(borderWidth(), 1.0);
    }

    // A symbol far longer than a row (stored by an older version or by hand) is elided, and its
    // remove button stays inside the window and works.
    void longStoredSymbolStaysRemovable() {
        const QString longSymbol(75, u'W');
        const QStringList before = m_prefs->trackedSymbols();
        m_prefs->setTrackedSymbols(before + QStringList{longSymbol});
        QQuickItem* stocks = select(u"stocks"_s);
        QVERIFY(QQuickTest::qWaitForPolish(m_window));
        QQuickItem* remove = nullptr;
        for (QQuickItem* b : findItems(stocks, u"removeButton"_s))
            if (b->property("help").toString() == u"Stop tracking "_s + longSymbol)
                remove = b;
        QVERIFY(remove);
        const QRectF drawn = sceneRect(remove);
        QVERIFY2(QRectF(0, 0, 820, 640).contains(drawn),
                 qPrintable(QString::number(drawn.right())));
        bool elided = false;
        for (QQuickItem* t : findItems(stocks, u"symbolText"_s)) {
            if (text(t) == longSymbol) {
                elided = t->property("truncated").toBool();
                QVERIFY(sceneRect(t).right() < drawn.left());
            }
        }
        QVERIFY(elided);
        click(remove);
        QCOMPARE(m_prefs->trackedSymbols(), before);
    }

    void updatesCardWithoutAFeedExplainsItself() {
        QQuickItem* general = select(u"general"_s);
        QVERIFY(!findItem(general, u"autoUpdateSwitch"_s)->isVisible());
        QVERIFY(findItem(general, u"autoUpdateRow"_s)
                    ->property("subtitle")
                    .toString()
                    .contains(u"updated by the system's package manager"_s));
        QQuickItem* check = findItem(general, u"checkForUpdates"_s);
        QVERIFY(check->isEnabled());
        // Twice: the window answers Return also when it is shown again after closing.
        for (int round = 0; round < 2; ++round) {
            click(check);
            UpdateDialog* explanation = m_updater->dialog();
            QVERIFY(explanation);
            QVERIFY(QTest::qWaitForWindowActive(explanation));
            QCOMPARE(explanation->findChild<QLabel*>(u"headline"_s)->text(),
                     u"Velline is updated by your package manager"_s);
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : explanation, Qt::Key_Return);
            QTRY_VERIFY(!explanation->isVisible());
            QCOMPARE(m_updater->phase(), Updater::Phase::idle);
            showAgain();
        }
    }

    void updatesCardWithAFeedHasItsSwitch() {
        Updater::Options updates;
        updates.feedUrl = QUrl(u"https://127.0.0.1:9/appcast.xml"_s); // never read
        updates.settings = m_settings.get();
        updates.showsDialogs = false;
        Updater withFeed(updates);
        QObject* view = find(u"settingsView"_s);
        view->setProperty("updater", QVariant::fromValue<QObject*>(&withFeed));
        QQuickItem* general = select(u"general"_s);
        QQuickItem* toggle = findItem(general, u"autoUpdateSwitch"_s);
        QVERIFY(toggle->isVisible());
        QVERIFY(checked(toggle));
        QVERIFY(findItem(general, u"autoUpdateRow"_s)
                    ->property("subtitle")
                    .toString()
                    .contains(u"release feed"_s));
        click(toggle);
        QVERIFY(!withFeed.automaticallyChecksForUpdates());
        QTRY_VERIFY(!checked(toggle));
        view->setProperty("updater", QVariant::fromValue<QObject*>(m_updater.get()));
        QVERIFY(!toggle->isVisible());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
