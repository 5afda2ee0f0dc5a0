// The expanded card on a real window: what shows for how many records, the drag rule, the
// buttons, and the slide keyed on the symbol.
#include "notch/compacttapnav.h"
#include "notch/expandedcardmodel.h"
#include "notch/expandedcardsource.h"
#include "notch/notchclock.h"
#include "notchrig.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

// A record with half an hour of chart.
Stock stock(const QString& symbol, double price, double previousClose = 100) {
    Stock s = notchrig::stock(symbol, price, previousClose);
    for (int i = 0; i < 6; ++i)
        s.intraday.append(PricePoint{1705307400.0 + 300 * i, previousClose + i, 1000});
    return s;
}

QVariant stocksValue(const QList<Stock>& stocks) {
    return QVariant::fromValue(stocks);
}

QQuickItem* child(QObject* root, const char* name) {
    return root->findChild<QQuickItem*>(QString::fromLatin1(name));
}

// The chart of the block on screen (a block sliding out may still be around).
QQuickItem* chart(QQuickItem* card) {
    return child(card->property("currentBlock").value<QQuickItem*>(), "sparkline");
}

QPoint centreOf(QQuickItem* item) {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

} // namespace

class TestCardView : public QObject {
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QQuickItem> m_root;

    QQuickItem* show(const QByteArray& qml, const QVariantMap& initial = {}) {
        m_root.reset();
        QQmlComponent component(m_engine.get());
        component.setData("import QtQuick\nimport Velline.Notch\n" + qml, QUrl());
        m_root.reset(qobject_cast<QQuickItem*>(component.createWithInitialProperties(initial)));
        if (!m_root)
            qWarning() << component.errors();
        m_root->setParentItem(m_window->contentItem());
        m_root->setSize(QSizeF(m_root->implicitWidth(), m_root->implicitHeight()));
        connect(m_root.get(), &QQuickItem::implicitHeightChanged, this,
                [this] { m_root->setHeight(m_root->implicitHeight()); });
        return m_root.get();
    }

    // Drags from `from` by `dx` points in small steps, as a hand would.
    void drag(QPoint from, int dx) {
        QTest::mousePress(m_window.get(), Qt::LeftButton, {}, from);
        const int steps = 8;
        for (int i = 1; i <= steps; ++i)
            QTest::mouseMove(m_window.get(), from + QPoint(dx * i / steps, 0), 5);
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
        m_window->setColor(Qt::black);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase() {
        m_root.reset();
        m_window.reset();
        m_engine.reset();
    }

    void rowsFollowHowManyRecordsThereAre() {
        QQuickItem* card = show("ExpandedNotchView {}");
        QVERIFY(child(card, "emptyText")->isVisible());
        QVERIFY(!child(card, "footer")->isVisible());
        QVERIFY(!child(card, "portfolio")->isVisible());
        QVERIFY(card->implicitWidth() >= 340);

        card->setProperty("stocks", stocksValue({stock("AAPL", 101)}));
        QVERIFY(!child(card, "emptyText")->isVisible());
        // Until it is given a theme the card draws in the equity colours.
        auto* block = card->property("currentBlock").value<QQuickItem*>();
        QCOMPARE(child(block, "change")->property("color").value<QColor>(),
                 NotchTheme::equity({}).mutedPositiveColor());
        QVERIFY(!child(card, "footer")->isVisible()); // one record: no pager, settings, remove

        card->setProperty("stocks",
                          stocksValue({stock("AAPL", 101), stock("MSFT", 99), stock("NVDA", 100)}));
        card->setProperty("activeSymbol", QStringLiteral("MSFT"));
        QVERIFY(child(card, "footer")->isVisible());
        QCOMPARE(child(card, "dots")->property("count").toInt(), 3);
        QCOMPARE(child(card, "removeButton")->property("toolTip").toString(),
                 QStringLiteral("Remove MSFT from tracked"));

        card->setProperty("portfolioDayPL", 124.0);
        card->setProperty("portfolioMarketValue", 10124.0);
        QVERIFY(child(card, "portfolio")->isVisible());
        QCOMPARE(child(card, "percent")->property("text").toString(), QStringLiteral("+1.24%"));
        QVERIFY(card->width() >= 340);
    }

    // The threshold itself is the model's; the view hands it the drag as the hand made it. The
    // other buttons are clicked through the wrapper below.
    void dragsBeyondFortyPointsStepAndTheBackButtonActsAtOnce() {
        QQuickItem* card = show("ExpandedNotchView {}");
        card->setProperty("stocks", stocksValue({stock("AAPL", 101), stock("MSFT", 99)}));
        QTRY_VERIFY(card->height() > 100);
        QSignalSpy swipes(card, SIGNAL(swipeRequested(int)));
        const QPoint start = centreOf(chart(card));
        drag(start, 40);
        QCOMPARE(swipes.size(), 0);
        drag(start, 41);
        drag(start, -41);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centreOf(child(card, "backButton")));
        QCOMPARE(swipes.size(), 3);
        QCOMPARE(swipes.at(0).at(0).toInt(), int(SwipeDirection::right));
        QCOMPARE(swipes.at(1).at(0).toInt(), int(SwipeDirection::left));
        QCOMPARE(swipes.at(2).at(0).toInt(), int(SwipeDirection::right));
    }

    void aChangeOfSymbolSlidesANewBlockInWhileTheOldKeepsItsRecord() {
        QQuickItem* card = show("ExpandedNotchView {}");
        card->setProperty("stocks", stocksValue({stock("AAPL", 101), stock("MSFT", 99)}));
        auto* first = card->property("currentBlock").value<QQuickItem*>();
        QVERIFY(first);
        QPointer<QQuickItem> firstGuard(first);

        // A new quote for the same symbol redraws the same block.
        card->setProperty("stocks", stocksValue({stock("AAPL", 102), stock("MSFT", 99)}));
        QCOMPARE(card->property("currentBlock").value<QQuickItem*>(), first);
        QCOMPARE(child(first, "price")->property("text").toString(), QStringLiteral("$102.00"));

        card->setProperty("activeSymbol", QStringLiteral("MSFT"));
        auto* second = card->property("currentBlock").value<QQuickItem*>();
        QVERIFY(second && second != first);
        QCOMPARE(child(second, "ticker")->property("text").toString(), QStringLiteral("MSFT"));
        // The leaving block still shows AAPL, even once AAPL's record changes or goes.
        card->setProperty("stocks", stocksValue({stock("MSFT", 98)}));
        QVERIFY(firstGuard);
        QCOMPARE(child(first, "ticker")->property("text").toString(), QStringLiteral("AAPL"));
        QCOMPARE(child(first, "price")->property("text").toString(), QStringLiteral("$102.00"));
        QTRY_VERIFY_WITH_TIMEOUT(!firstGuard, 3000);
        QCOMPARE(child(second, "price")->property("text").toString(), QStringLiteral("$98.00"));
    }

    void theWrapperStepsTheStateAndShowsThePortfolioOnlyForEquities() {
        notchrig::Prefs rig;
        UserPreferences& prefs = rig.prefs;
        prefs.setTrackedSymbols({"AAPL", "MSFT", "NVDA"});
        notchrig::HeldQuotes quotes;
        ManualClock clock(1704898800); // a Wednesday, 10:00 in New York
        setNotchClock(&clock);
        AppState state(&prefs, &quotes, &clock, {});
        state.setStocks({stock("AAPL", 101), stock("MSFT", 99), stock("NVDA", 100)});
        state.setActiveSymbol(QStringLiteral("AAPL"));

        QQuickItem* view =
            show("ExpandedContentView {}", {{"appState", QVariant::fromValue<QObject*>(&state)},
                                            {"prefs", QVariant::fromValue<QObject*>(&prefs)}});
        auto* card = view->property("card").value<QQuickItem*>();
        QVERIFY(card);
        QTRY_VERIFY(card->height() > 100);

        // A tap outside the buttons steps forward after the tap delay; a button at once, and
        // is no tap; a drag steps once, as the press that began it is no tap either.
        const auto active = [&] { return state.activeSymbol().value_or("-"); };
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, centreOf(chart(card)));
        clock.advance(CompactTapNav::maxTapDelay - 0.001);
        QCOMPARE(active(), "AAPL");
        clock.advance(0.001);
        QCOMPARE(active(), "MSFT");
        QPointer<QQuickItem> leaving = card->property("currentBlock").value<QQuickItem*>();
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {},
                          centreOf(child(card, "forwardButton")));
        QCOMPARE(active(), "NVDA");
        clock.advance(1);
        QCOMPARE(active(), "NVDA");
        QTRY_VERIFY(!leaving); // the slide ends first: a drag over a sliding block does not step
        drag(centreOf(chart(card)), 60);
        QCOMPARE(active(), "MSFT");
        clock.advance(1);
        QCOMPARE(active(), "MSFT");

        QSignalSpy settingsButton(&NotchActions::shared(), &NotchActions::openSettingsRequested);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {},
                          centreOf(child(card, "settingsButton")));
        QCOMPARE(settingsButton.size(), 1);

        QVERIFY(!child(card, "portfolio")->isVisible());
        prefs.setHoldings({Holding{"AAPL", 10}});
        QVERIFY(child(card, "portfolio")->isVisible());
        QCOMPARE(child(card, "amount")->property("text").toString(), QStringLiteral("+$10.00"));

        QTest::mouseClick(m_window.get(), Qt::LeftButton, {},
                          centreOf(child(card, "removeButton")));
        QCOMPARE(prefs.trackedSymbols(), QStringList({"AAPL", "NVDA"}));
        m_root.reset(); // before the state it reads goes
        setNotchClock(nullptr);
    }
};

QTEST_MAIN(TestCardView)
#include "tst_cardview.moc"
