// The quick-add panel on a private X server, driven like a person would with xdotool: the
// global hot key (also with NumLock on), typing, Return, Escape, a click elsewhere, recents.
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
#include <QSignalSpy>
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

// Visible items under `root` with `objectName` starting with `prefix`, or whose text is `text`.
QList<QQuickItem*> visibleItems(QQuickItem* root, const QString& prefix, const QString& text = {}) {
    QList<QQuickItem*> found;
    if (!root || !root->isVisible())
        return found;
    if ((!prefix.isEmpty() && root->objectName().startsWith(prefix)) ||
        (!text.isEmpty() && root->property("text").toString() == text))
        found.append(root);
    for (QQuickItem* child : root->childItems())
        found += visibleItems(child, prefix, text);
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
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<UserPreferences> m_prefs;
    std::unique_ptr<FeedSimulator> m_feed;
    std::unique_ptr<StockService> m_service;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<QuickAddController> m_controller;
    std::unique_ptr<QWidget> m_desktop;

    bool open() {
        // A hidden panel may still count as active until the server's focus change arrives.
        if (m_controller->panel() &&
            !QTest::qWaitFor([this] { return !m_controller->panel()->isActive(); }, 5000))
            return false;
        if (!key(u"super+k"_s))
            return false;
        return QTest::qWaitFor(
            [this] { return m_controller->panel() && m_controller->panel()->isActive(); }, 5000);
    }

private Q_SLOTS:
    void initTestCase() {
        // Another window to click on, covering the screen.
        m_desktop = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        m_desktop->setGeometry(QGuiApplication::primaryScreen()->geometry());
        m_desktop->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_desktop.get()));

        m_settings = std::make_unique<QSettings>(m_dir.filePath(u"v.conf"_s), QSettings::IniFormat);
        m_prefs = std::make_unique<UserPreferences>(m_settings.get());
        m_prefs->setTrackedSymbols({u"MSFT"_s, u"IBM"_s});
        m_prefs->setShowFuturesAfterHours(false);
        m_feed = std::make_unique<FeedSimulator>(Clock::system());
        QVERIFY(m_feed->listen());
        m_service = std::make_unique<StockService>(m_feed->baseUrl(), Clock::system());
        m_state =
            std::make_unique<AppState>(m_prefs.get(), m_service.get(), Clock::system(), nullptr);
        m_controller = std::make_unique<QuickAddController>(m_prefs.get(), m_state.get());
        QVERIFY(m_controller->hotKey().grabX11());
        QCOMPARE(m_controller->hotKey().backend(), GlobalHotKey::Backend::x11Grab);
    }

    void hotKeyToggles() {
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        QVERIFY(panel->isVisible());
        QVERIFY(key(u"super+k"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);

        // With NumLock on the same keys still reach the program.
        QVERIFY(xdotool({u"key"_s, u"Num_Lock"_s}));
        QTRY_VERIFY(keyboardState() & XCB_MOD_MASK_2);
        QVERIFY(open());
        QVERIFY(key(u"super+k"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        QVERIFY(xdotool({u"key"_s, u"Num_Lock"_s}));
        QTRY_VERIFY(!(keyboardState() & XCB_MOD_MASK_2));
    }

    void typingAndReturnAddsTheSymbol() {
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        // The field filters as the user types.
        QVERIFY(xdotool({u"type"_s, u"brk-b 1"_s}));
        QTRY_COMPARE(fieldText(panel), u"BRK-B1"_s);
        QTRY_COMPARE(visibleItems(panel->rootObject(), u"returnBadge"_s).size(), 1);
        for (int i = 0; i < 6; ++i)
            QVERIFY(key(u"BackSpace"_s));
        QTRY_COMPARE(fieldText(panel), QString());

        QVERIFY(xdotool({u"type"_s, u"aapl"_s}));
        QTRY_COMPARE(m_controller->query(), u"AAPL"_s);
        m_feed->clearRequestLog();
        QElapsedTimer sinceReturn;
        QVERIFY(key(u"Return"_s));
        sinceReturn.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_prefs->trackedSymbols().contains(u"AAPL"_s), 1000);
        const auto requestedAapl = [this] {
            for (const LoggedRequest& r : m_feed->requestLog())
                if (r.symbol == QLatin1String("AAPL"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(requestedAapl(), 1000);
        QVERIFY2(sinceReturn.elapsed() < 1000, qPrintable(QString::number(sinceReturn.elapsed())));
        QCOMPARE(m_state->activeSymbol(), std::optional<QString>(u"AAPL"_s));
        QTRY_VERIFY(!panel->isVisible());
        // Still the notch symbol once the refresh has merged.
        QTRY_VERIFY_WITH_TIMEOUT(m_state->symbols().contains(u"AAPL"_s), 5000);
        QCOMPARE(m_state->activeSymbol(), std::optional<QString>(u"AAPL"_s));
        // The field is empty on the next show.
        QVERIFY(open());
        QCOMPARE(fieldText(panel), QString());
        QVERIFY(key(u"Escape"_s));
        QTRY_VERIFY(!panel->isVisible());
    }

    void escapeAndClickElsewhereClose() {
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        QVERIFY(xdotool({u"type"_s, u"ms"_s}));
        QTRY_COMPARE(m_controller->query(), u"MS"_s);
        QVERIFY(key(u"Escape"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        QVERIFY(!m_prefs->trackedSymbols().contains(u"MS"_s));

        // The text survives the hide; a click on another window closes the panel.
        QVERIFY(open());
        QCOMPARE(fieldText(panel), u"MS"_s);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(xdotool({u"mousemove"_s, QString::number(screen.left() + 40),
                         QString::number(screen.bottom() - 40), u"click"_s, u"1"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        m_controller->setQuery(QString());
    }

    void recents() {
        m_prefs->setTrackedSymbols({u"MSFT"_s, u"IBM"_s});
        const QStringList eight{"NVDA", "MSFT", "LMT", "META", "PLTR", "MDB", "AVGO", "ORCL"};
        m_prefs->setRecentlyAdded(eight);
        QVERIFY(open());
        QuickAddPanel* panel = m_controller->panel();
        QTRY_COMPARE(visibleItems(panel->rootObject(), u"recent:"_s).size(), 6);
        const auto tracked = visibleItems(panel->rootObject(), QString(), u"already tracked"_s);
        QCOMPARE(tracked.size(), 1);
        QVERIFY(tracked.first()->parentItem()->parentItem()->objectName() == u"recent:MSFT"_s);

        // Clicking the tracked row makes it active without adding it twice.
        QQuickItem* row = visibleItems(panel->rootObject(), u"recent:MSFT"_s).first();
        QTRY_VERIFY(row->y() > 0); // the list is laid out
        const QPoint centre =
            row->mapToGlobal(QPointF(row->width() / 2, row->height() / 2)).toPoint();
        QVERIFY(xdotool({u"mousemove"_s, QString::number(centre.x()), QString::number(centre.y()),
                         u"click"_s, u"1"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 5000);
        QCOMPARE(m_prefs->trackedSymbols(), (QStringList{"MSFT", "IBM"}));
        QCOMPARE(m_prefs->recentlyAdded().first(), u"MSFT"_s);
        QCOMPARE(m_state->activeSymbol(), std::optional<QString>(u"MSFT"_s));
    }
};

QTEST_MAIN(TestQuickAddPanel)
#include "tst_quickaddpanel.moc"
