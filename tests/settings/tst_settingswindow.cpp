// The real settings window on an X server: one window however often it is shown, its fixed
// size, typing into the add rows, and changes made elsewhere showing at once. What the add rows
// accept is the editor's to decide (tst_settingsrules); here each row shows that it asks.
#include "prefs/userpreferences.h"
#include "settings/settingswindowcontroller.h"

#include <QFile>
#include <QGuiApplication>
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

private Q_SLOTS:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(u"config"_s)));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        m_settings =
            std::make_unique<QSettings>(m_dir.filePath(u"Velline.ini"_s), QSettings::IniFormat);
        m_prefs = std::make_unique<UserPreferences>(m_settings.get());
        m_prefs->setTrackedSymbols({"AAPL", "MSFT"});
        m_controller = std::make_unique<SettingsWindowController>();
        m_controller->setPrefs(m_prefs.get());
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
        QCOMPARE(created.size(), 0);
        int settingsWindows = 0;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            settingsWindows += w->title() == "Velline Settings"_L1;
        QCOMPARE(settingsWindows, 1);

        QCOMPARE(m_window->minimumSize(), QSize(820, 640));
        QCOMPARE(m_window->maximumSize(), QSize(820, 640));
        // Centred on the screen under the pointer.
        const QPoint offset =
            m_window->geometry().center() - m_window->screen()->availableGeometry().center();
        QVERIFY(qAbs(offset.x()) <= 40 && qAbs(offset.y()) <= 40);
        QVERIFY(m_window->isActive());
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
        m_controller->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
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
        QCOMPARE(m_prefs->priceAlerts().first().direction, PriceAlert::Direction::below);
        QCOMPARE(text(symbol), QString());
        QCOMPARE(text(price), QString());
        QVERIFY(!above() && highlighted(u"belowButton"_s));
        // Never fired: no "fired" text.
        QVERIFY(!findItem(alerts, u"firedText"_s)->isVisible());
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
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
