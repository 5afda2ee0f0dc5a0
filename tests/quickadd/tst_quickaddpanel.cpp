// The quick-add panel on a private X server, driven like a person would with xdotool: the
// global hot key (also with NumLock on), typing, Return, Escape, a click elsewhere or on a
// recent symbol.
#include "clock/clock.h"
#include "feedsim/feedsimulator.h"
#include "market/stockservice.h"
#include "prefs/userpreferences.h"
#include "quickadd/quickaddcontroller.h"
#include "quickadd/quickaddpanel.h"
#include "state/appstate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QQuickItem>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>

Q_IMPORT_QML_PLUGIN(Velline_QuickAddPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;
using namespace Qt::StringLiterals;

namespace {

bool xdotool(const QStringList& arguments) {
    return QProcess::execute(u"xdotool"_s, arguments) == 0;
}

bool key(const QString& keys) {
    return xdotool({u"key"_s, u"--clearmodifiers"_s, keys});
}

// Visible items under `root` whose `objectName` starts with `prefix`.
QList<QQuickItem*> visibleItems(QQuickItem* root, const QString& prefix) {
    QList<QQuickItem*> found;
    if (!root || !root->isVisible())
        return found;
    if (root->objectName().startsWith(prefix))
        found.append(root);
    for (QQuickItem* child : root->childItems())
        found += visibleItems(child, prefix);
    return found;
}

QString fieldText(QuickAddPanel* panel) {
    const auto fields = visibleItems(panel->rootObject(), u"tickerField"_s);
    return fields.isEmpty() ? u"<no field>"_s : fields.first()->property("text").toString();
}

// The modifier and lock state of the keyboard as the X server has it.
uint16_t keyboardState() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const uint16_t mask = reply ? reply->mask : 0;
    std::free(reply);
    return mask;
}

} // namespace

class TestQuickAddPanel : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QSettings m_settings{m_dir.filePath(u"v.conf"_s), QSettings::IniFormat};
    UserPreferences m_prefs{&m_settings};
    FeedSimulator m_feed{Clock::system()};
    std::unique_ptr<StockService> m_service;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<QuickAddController> m_controller;
    QWidget m_desktop{nullptr, Qt::FramelessWindowHint}; // another window to click on

    // Opens the panel with the hot key. A hidden panel may still count as active until the
    // server's focus change arrives.
    bool open() {
        QuickAddPanel* panel = m_controller->panel();
        return (!panel || QTest::qWaitFor([panel] { return !panel->isActive(); }, 5000)) &&
               key(u"super+k"_s) &&
               QTest::qWaitFor(
                   [this] { return m_controller->panel() && m_controller->panel()->isActive(); },
                   5000);
    }

    void click(QPoint at) {
        QVERIFY(xdotool({u"mousemove"_s, QString::number(at.x()), QString::number(at.y()),
                         u"click"_s, u"1"_s}));
    }

private Q_SLOTS:
    void initTestCase() {
        m_desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        m_desktop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_desktop));
        m_prefs.setTrackedSymbols({u"MSFT"_s, u"IBM"_s});
        m_prefs.setShowFuturesAfterHours(false);
        QVERIFY(m_feed.listen());
        m_service = std::make_unique<StockService>(m_feed.baseUrl(), Clock::system());
        m_state = std::make_unique<AppState>(&m_prefs, m_service.get(), Clock::system(), nullptr);
        m_controller = std::make_unique<QuickAddController>(&m_prefs, m_state.get());
        QVERIFY(m_controller->hotKey().grabX11());
    }

    void hotKeyToggles() {
        // Also with NumLock on (every other test opens the panel with it off).
        QVERIFY(xdotool({u"key"_s, u"Num_Lock"_s}));
        QTRY_VERIFY(keyboardState() & XCB_MOD_MASK_2);
        QVERIFY(open());
        QVERIFY(key(u"super+k"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->panel()->isVisible(), 5000);
        QVERIFY(xdotool({u"key"_s, u"Num_Lock"_s}));
        QTRY_VERIFY(!(keyboardState() & XCB_MOD_MASK_2));
    }

    void typingAndReturnAddsTheSymbol() {
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        // The field filters as the user types (the filter is tst_quickadd's).
        QVERIFY(xdotool({u"type"_s, u"aapl"_s}));
        QTRY_COMPARE(m_controller->query(), u"AAPL"_s);
        m_feed.clearRequestLog();
        QElapsedTimer sinceReturn;
        QVERIFY(key(u"Return"_s));
        sinceReturn.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_prefs.trackedSymbols().contains(u"AAPL"_s), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::ranges::any_of(m_feed.requestLog(),
                                [](const LoggedRequest& r) { return r.symbol == "AAPL"_L1; }),
            1000);
        QVERIFY2(sinceReturn.elapsed() < 1000, qPrintable(QString::number(sinceReturn.elapsed())));
        QTRY_VERIFY(!panel->isVisible());
        // The notch symbol, also once the refresh has merged.
        QTRY_VERIFY_WITH_TIMEOUT(m_state->symbols().contains(u"AAPL"_s), 5000);
        QCOMPARE(m_state->activeSymbol(), std::optional<QString>(u"AAPL"_s));
    }

    void escapeAndClickElsewhereClose() {
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        QVERIFY(xdotool({u"type"_s, u"ms"_s}));
        QTRY_COMPARE(m_controller->query(), u"MS"_s);
        QVERIFY(key(u"Escape"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        QVERIFY(!m_prefs.trackedSymbols().contains(u"MS"_s));

        // The text survives the hide; a click on another window closes the panel.
        QVERIFY(open());
        QCOMPARE(fieldText(panel), u"MS"_s);
        click(QGuiApplication::primaryScreen()->geometry().bottomLeft() + QPoint(40, -40));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        m_controller->setQuery(QString());
    }

    // A click on a recent row chooses it (what choosing does is tst_quickadd's).
    void clickingARecentChoosesIt() {
        m_prefs.setRecentlyAdded({u"NVDA"_s, u"MSFT"_s});
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        QQuickItem* row = nullptr;
        QTRY_VERIFY((row = visibleItems(panel->rootObject(), u"recent:MSFT"_s).value(0)));
        QTRY_VERIFY(row->y() > 0); // the list is laid out
        click(row->mapToGlobal(QPointF(row->width() / 2, row->height() / 2)).toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        QCOMPARE(m_state->activeSymbol(), std::optional<QString>(u"MSFT"_s));
        QCOMPARE(m_prefs.recentlyAdded().first(), u"MSFT"_s);
    }
};

QTEST_MAIN(TestQuickAddPanel)
#include "tst_quickaddpanel.moc"
