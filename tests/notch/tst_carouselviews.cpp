// The compact sides and the expanded card on a real window: taps and drags step the carousel, a
// new symbol slides in while the old one keeps its values, and a logo replaces the letter. The
// rules behind them are pinned on the models; these are what only a view can show.
#include "notch/compactviewmodel.h"
#include "notch/logoimage.h"
#include "notch/notchclock.h"
#include "notch/notchformat.h"
#include "notch/notchtheme.h"
#include "notch/rollingtext.h"
#include "notchrig.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStyleHints>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

// A record with half an hour of chart.
Stock charted(const QString& symbol, double price) {
    Stock s = notchrig::stock(symbol, price);
    for (int i = 0; i < 6; ++i)
        s.intraday.append(PricePoint{1705307400.0 + 300 * i, 100.0 + i, 1000});
    return s;
}

QQuickItem* child(QObject* root, const char* name) {
    return root->findChild<QQuickItem*>(QString::fromLatin1(name));
}

QString textOf(QQuickItem* content, const char* name) {
    QQuickItem* text = child(content, name);
    return text && text->isVisible() ? text->property("text").toString() : QString();
}

QPoint centreOf(QQuickItem* item) {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

// The block on screen and its chart (a block sliding out may still be around).
QQuickItem* block(QQuickItem* card) {
    return card->property("currentBlock").value<QQuickItem*>();
}
QQuickItem* chart(QQuickItem* card) {
    return child(block(card), "sparkline");
}

} // namespace

class TestCarouselViews : public QObject {
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QQuickItem> m_root;
    // A private state on virtual time for each test: three records, the middle one on screen.
    std::unique_ptr<notchrig::Prefs> m_rig;
    notchrig::HeldQuotes m_quotes;
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<AppState> m_state;

    QQuickItem* show(const QByteArray& qml) {
        m_root.reset();
        QQmlComponent component(m_engine.get());
        component.setData("import QtQuick\nimport Velline.Notch\n" + qml, QUrl());
        m_root.reset(qobject_cast<QQuickItem*>(component.createWithInitialProperties(
            {{"appState", QVariant::fromValue<QObject*>(m_state.get())},
             {"prefs", QVariant::fromValue<QObject*>(&m_rig->prefs)}})));
        if (!m_root)
            qWarning() << component.errors();
        m_root->setParentItem(m_window->contentItem()); // sized by its implicit size
        return m_root.get();
    }
    // The compact sides, a gap between them as around the camera.
    void showCompact() {
        show("Row { id: row; required property var appState; required property var prefs\n"
             "  spacing: 100\n"
             "  CompactLeadingContentView { objectName: 'leading'; height: 20\n"
             "    appState: row.appState; prefs: row.prefs }\n"
             "  CompactTrailingContentView { objectName: 'trailing'; height: 20\n"
             "    appState: row.appState; prefs: row.prefs } }");
    }
    QQuickItem* item(const char* name) const { return child(m_root.get(), name); }
    QList<QQuickItem*> contents(const char* side) const {
        QVariant list;
        QMetaObject::invokeMethod(child(item(side), "transition"), "contents",
                                  Q_RETURN_ARG(QVariant, list));
        QList<QQuickItem*> out;
        for (const QVariant& v : list.toList())
            out.append(v.value<QQuickItem*>());
        return out;
    }
    QString active() const { return m_state->activeSymbol().value_or("-"); }

    // Drags from `from` by `dx` points in small steps, as a hand would.
    void drag(QPoint from, int dx) {
        QTest::mousePress(m_window.get(), Qt::LeftButton, {}, from);
        for (int i = 1; i <= 8; ++i)
            QTest::mouseMove(m_window.get(), from + QPoint(dx * i / 8, 0), 5);
        QTest::mouseRelease(m_window.get(), Qt::LeftButton, {}, from + QPoint(dx, 0), 5);
    }

private Q_SLOTS:
    void initTestCase() {
        // Nothing here may reach the network: any feed or logo request goes nowhere.
        qputenv("VELLINE_CHART_FEED_URL", "http://127.0.0.1:9");
        qputenv("VELLINE_LOGO_URL", "http://127.0.0.1:9");
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        m_engine = std::make_unique<QQmlEngine>();
        m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        m_window = std::make_unique<QQuickWindow>();
        m_window->resize(600, 500);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void init() {
        m_rig = std::make_unique<notchrig::Prefs>();
        m_rig->prefs.setTrackedSymbols({"AAA", "BBB", "CCC"});
        m_clock = std::make_unique<ManualClock>(1704898800); // a Wednesday, 10:00 in New York
        setNotchClock(m_clock.get());
        m_state = std::make_unique<AppState>(&m_rig->prefs, &m_quotes, m_clock.get(), nullptr);
        m_state->setStocks({charted("AAA", 101), charted("BBB", 99), charted("CCC", 100)});
        m_state->setActiveSymbol(QStringLiteral("BBB"));
    }

    void cleanup() {
        m_root.reset(); // before the state it reads goes
        m_state.reset();
        setNotchClock(nullptr);
    }

    void compactTapsStepTheCarousel() {
        showCompact();
        const QPoint centre = centreOf(item("leading"));
        const int interval = qApp->styleHints()->mouseDoubleClickInterval();

        // A double tap steps back at once and never forward.
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centre);
        QCOMPARE(active(), "BBB");
        m_clock->advance(0.2);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centre, 20);
        QCOMPARE(active(), "AAA");
        m_clock->advance(1);
        QCOMPARE(active(), "AAA");

        // A single tap on the other side steps forward once the tap delay is over.
        QTest::qWait(interval + 50); // let the desktop's double click expire
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centreOf(item("trailing")));
        m_clock->advance(0.279);
        QCOMPARE(active(), "AAA");
        m_clock->advance(0.001);
        QCOMPARE(active(), "BBB");
    }

    void aNewCompactSymbolSlidesInWhileTheOldOneKeepsItsValues() {
        showCompact();
        // New numbers for the same symbol update in place. Forward: in from the trailing edge,
        // out toward the leading edge.
        m_state->setStocks({charted("AAA", 101), charted("BBB", 98.5), charted("CCC", 100)});
        m_state->swipe(SwipeDirection::left);
        QList<QQuickItem*> leading = contents("leading");
        const QList<QQuickItem*> trailing = contents("trailing");
        QCOMPARE(leading.size(), 2);
        QCOMPARE(textOf(leading.at(1), "ticker"), QStringLiteral("CCC"));
        QCOMPARE(textOf(trailing.at(0), "priceText"), QStringLiteral("$98.50"));
        QQuickItem* transition = child(item("leading"), "transition");
        const qreal overflow = transition->property("overflow").toReal();
        QVERIFY(leading.at(1)->parentItem()->x() > overflow);
        // Cut while sliding only (so glows of standing content are whole), and then with room
        // beyond the edges for a number's flash and the alert pulse.
        QQuickItem* stage = leading.at(1)->parentItem()->parentItem();
        QVERIFY(stage->clip());
        QVERIFY(overflow >= 8);
        QCOMPARE(stage->mapRectToItem(transition, stage->boundingRect()),
                 transition->boundingRect().adjusted(-overflow, -overflow, overflow, overflow));
        m_clock->advance(carouselSpring().settleTime() + FrameTimer::period);
        QCOMPARE(contents("leading").size(), 1);
        QCOMPARE(contents("leading").at(0)->parentItem()->x(), overflow);
        QVERIFY(!stage->clip());
    }

    void contentThatLeftComesBackShowingTheNextSymbolAtOnce() {
        showCompact();
        // BBB falls, AAA rises; their prices are as wide, so a change of symbol could roll.
        Stock bbb = charted("BBB", 101.5);
        bbb.previousClose = 105;
        m_state->setStocks({charted("AAA", 101), bbb, charted("CCC", 100)});
        m_state->swipe(SwipeDirection::left);
        QQuickItem* left = contents("trailing").at(0);
        QCOMPARE(textOf(left, "priceText"), QStringLiteral("$101.50"));
        m_clock->advance(carouselSpring().settleTime() + FrameTimer::period);
        QCOMPARE(contents("trailing").size(), 1);

        m_state->swipe(SwipeDirection::left); // CCC leaves, AAA comes in what BBB left
        const QList<QQuickItem*> shown = contents("trailing");
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1), left);
        QVERIFY(left->isVisible());
        QCOMPARE(textOf(left, "priceText"), QStringLiteral("$101.00"));
        QVERIFY(!qobject_cast<RollingText*>(child(left, "priceText"))->isRolling());
        const auto* vm = left->findChild<CompactViewModel*>();
        QVERIFY(vm);
        QCOMPARE(child(left, "percentText")->property("color").value<QColor>(), vm->percentColor());
        QCOMPARE(child(left, "arrow")->property("color").value<QColor>(), vm->arrowColor());
        m_clock->advance(0.1); // mid-way through the flash a change of value would start
        QCOMPARE(child(left, "price")->scale(), 1.0);
        QCOMPARE(child(left, "percent")->scale(), 1.0);

        // New numbers for the symbol it shows now still roll and flash.
        m_state->setStocks({charted("AAA", 101.25), bbb, charted("CCC", 100)});
        QVERIFY(qobject_cast<RollingText*>(child(left, "priceText"))->isRolling());
        m_clock->advance(0.1);
        QVERIFY(child(left, "price")->scale() > 1.0);
    }

    void aLogoArrivingOnScreenReplacesTheLetter() {
        notchrig::LogoServer server;
        server.answers["/image-stock/%5EVIX.png"] = {200, notchrig::png(Qt::red, QSize(32, 32))};
        LogoCache cache(m_clock.get(), server.prefix());
        LogoImage logo(&cache, m_window->contentItem());
        logo.setSymbol(QStringLiteral("^VIX"));
        QVERIFY(!logo.hasImage());
        cache.prefetch(QStringLiteral("^VIX"));
        QTRY_VERIFY_WITH_TIMEOUT(logo.hasImage(), 5000);
    }

    // The drag threshold itself is the model's; the view hands it the drag as the hand made it.
    void theCardSlidesANewSymbolInAndStepsOnDragsBeyondFortyPoints() {
        QQuickItem* card = show("ExpandedNotchView { property var appState; property var prefs }");
        const auto setStocks = [&](const QList<Stock>& stocks) {
            card->setProperty("stocks", QVariant::fromValue(stocks));
        };
        setStocks({charted("AAA", 101), charted("BBB", 99)});
        QPointer<QQuickItem> first = block(card);
        // Until it is given a theme the card draws in the equity colours.
        QCOMPARE(child(first, "change")->property("color").value<QColor>(),
                 NotchTheme::equity({}).mutedPositiveColor());
        card->setProperty("activeSymbol", QStringLiteral("BBB"));
        QQuickItem* second = block(card);
        QVERIFY(second && second != first);
        // The leaving block still shows AAA, even once AAA's record changes or goes.
        setStocks({charted("BBB", 98)});
        QCOMPARE(textOf(first, "ticker"), QStringLiteral("AAA"));
        QCOMPARE(textOf(first, "price"), QStringLiteral("$101.00"));
        QCOMPARE(textOf(second, "price"), QStringLiteral("$98.00"));
        // Its price changed on screen (as it slides in): the figure swells and its flash's glow
        // shows.
        m_clock->advance(0.1);
        QVERIFY(child(second, "price")->scale() > 1.0);
        QVERIFY(child(child(second, "price"), "flashGlow")->isVisible());
        m_clock->advance(0.5);
        QCOMPARE(child(second, "price")->scale(), 1.0);
        QVERIFY(!child(child(second, "price"), "flashGlow")->isVisible());
        m_clock->advance(carouselSpring().settleTime());
        QTRY_VERIFY(!first);
        setStocks({charted("AAA", 101), charted("BBB", 98)}); // two again: the pager shows
        QSignalSpy swipes(card, SIGNAL(swipeRequested(int)));
        const QPoint start = centreOf(chart(card));
        drag(start, 40);
        drag(start, 41);
        drag(start, -41);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centreOf(child(card, "backButton")));
        const int right = int(SwipeDirection::right), left = int(SwipeDirection::left);
        QCOMPARE(QList<QVariantList>(swipes), (QList<QVariantList>{{right}, {left}, {right}}));
    }

    void theCardWrapperRemovesThroughTheState() {
        auto* card = show("ExpandedContentView {}")->property("card").value<QQuickItem*>();
        QTRY_VERIFY(card->height() > 100);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {},
                          centreOf(child(card, "removeButton")));
        QCOMPARE(m_rig->prefs.trackedSymbols(), QStringList({"AAA", "CCC"}));
    }
};

QTEST_MAIN(TestCarouselViews)
#include "tst_carouselviews.moc"
