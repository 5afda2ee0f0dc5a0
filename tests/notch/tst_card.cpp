#include "notch/cardformat.h"
#include "notch/expandedcardmodel.h"
#include "notch/expandedcardsource.h"
#include "notch/sparkline.h"
#include "notchrig.h"

using namespace velline;
using notchrig::spike;
using notchrig::stock;

namespace {

const NotchTheme equity = NotchTheme::equity({});
const NotchTheme futures = NotchTheme::futures({});

bool sameColor(const QColor& a, const QColor& b) {
    return qAbs(a.redF() - b.redF()) < 1e-3 && qAbs(a.greenF() - b.greenF()) < 1e-3 &&
           qAbs(a.blueF() - b.blueF()) < 1e-3 && qAbs(a.alphaF() - b.alphaF()) < 1e-3;
}

QColor faded(QColor c, double opacity) {
    c.setAlphaF(static_cast<float>(c.alphaF() * opacity));
    return c;
}

PriceAlert alert(const QString& symbol, double price, PriceAlert::Direction direction) {
    return PriceAlert{QUuid::createUuid(), symbol, price, direction, {}};
}

QList<PricePoint> series(std::initializer_list<double> prices, double start = 0) {
    QList<PricePoint> points;
    for (double p : prices)
        points.append(PricePoint{start + 300.0 * points.size(), p, 0});
    return points;
}

} // namespace

class TestCard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void alertBadgeNamesTheEventAndShowsOnlyForTheDisplayedSymbol() {
        using D = Stock::Direction;
        for (auto [d, label] : {std::pair{D::up, "Breakout"}, {D::down, "Drop"}, {D::flat, "Move"}})
            QCOMPARE(card::alertBadgeLabel(spike("A", d)), label);
        AlertEvent cross = spike("AAPL", D::down);
        cross.reason = AlertEvent::Reason::priceCross(150, PriceAlert::Direction::above);
        QCOMPARE(card::alertBadgeLabel(cross), "Above $150.00"); // the alert's side, not the day's
        cross.reason = AlertEvent::Reason::priceCross(99.5, PriceAlert::Direction::below);
        QCOMPARE(card::alertBadgeLabel(cross), "Below $99.50");

        QVERIFY(card::showsAlertBadge(cross, "AAPL"));
        QVERIFY(!card::showsAlertBadge(cross, "MSFT"));
        QVERIFY(!card::showsAlertBadge(std::nullopt, "AAPL"));
    }

    void fiveMinuteMoveAndVolumeChipsStartAtTheirThresholds() {
        for (double quiet : {0.049, -0.049, qQNaN()})
            QVERIFY(!card::moveChip(quiet, false, equity));
        auto up = card::moveChip(0.05, false, equity);
        QVERIFY(up);
        QCOMPARE(up->text, "+0.05% (5m)");
        QCOMPARE(up->symbolName, "arrow.up.right");
        QVERIFY(sameColor(up->color, equity.mutedPositiveColor()));
        auto down = card::moveChip(-0.06, false, equity);
        QCOMPARE(down->text, "-0.06% (5m)");
        QCOMPARE(down->symbolName, "arrow.down.right");
        QVERIFY(sameColor(down->color, equity.mutedNegativeColor()));
        // Loud from a 1 % move, or for any move while spiking.
        QVERIFY(sameColor(card::moveChip(-1.0, false, equity)->color, equity.spikeNegativeColor()));
        QVERIFY(sameColor(card::moveChip(0.99, false, equity)->color, equity.mutedPositiveColor()));
        QVERIFY(sameColor(card::moveChip(0.2, true, equity)->color, equity.spikePositiveColor()));
        QVERIFY(sameColor(card::moveColor(0, true, equity), NotchPalette::textPrimary()));

        const QColor up3 = equity.mutedPositiveColor();
        QVERIFY(!card::volumeChip(1.49, up3));
        QVERIFY(!card::volumeChip(qInf(), up3));
        auto quiet = card::volumeChip(1.5, up3);
        QCOMPARE(quiet->text, "1.5x");
        QVERIFY(sameColor(quiet->color, faded(NotchPalette::textPrimary(), 0.8)));
        QCOMPARE(card::volumeChip(2.44, up3)->text, "2.4x");
        auto loud = card::volumeChip(3.0, up3);
        QCOMPARE(loud->text, "3.0x");
        QVERIFY(sameColor(loud->color, faded(up3, 0.95)));
    }

    void statisticsAndChartTexts() {
        QCOMPARE(card::previousCloseText(187), "prev $187.00");
        QCOMPARE(card::dollars(1234567.891), "$1234567.89"); // no grouping
        QCOMPARE(card::fixed2(-0.0), "0.00");
        Stock s = stock("AAPL", 1, 1);
        s.contextTag = QString();
        QVERIFY(!card::contextTagText(s));
        QCOMPARE(card::chartCaption(equity), "INTRADAY");
        // Tests run with TZ=Europe/Berlin (UTC+1 in January).
        const double morning = 1705307400; // 2024-01-15 09:30 local
        QCOMPARE(card::shortTime(morning), "9:30a");
        QCOMPARE(card::shortTime(morning + 6.5 * 3600), "4:00p");
        QCOMPARE(card::shortTime(morning + 2.5 * 3600 + 300), "12:05p");
        QCOMPARE(card::shortTime(morning - 9.5 * 3600 + 300), "12:05a");
        QCOMPARE(card::chartTimeRange({}), QString());
        QCOMPARE(
            card::chartTimeRange({PricePoint{morning, 1, 0}, PricePoint{morning + 23400, 1, 0}}),
            QString::fromUtf8("9:30a \u2013 4:00p"));

        QCOMPARE(card::spikeLegend(1), "1 spike");
        QCOMPARE(card::spikeLegend(3), "3 spikes");
    }

    void alertChipsLightWhileTheirConditionHolds() {
        const auto above = alert("AAPL", 150, PriceAlert::Direction::above);
        const auto below = alert("AAPL", 150, PriceAlert::Direction::below);
        const QColor dim = faded(NotchPalette::textPrimary(), 0.8);
        auto at = card::alertChip(above, 150.00);
        QCOMPARE(at.text, "$150.00");
        QCOMPARE(at.symbolName, "arrow.up");
        QVERIFY(at.holds);
        QVERIFY(sameColor(at.color, toQColor(NotchPalette::equityUpDefault())));
        QVERIFY(sameColor(card::alertChip(above, 149.99).color, dim));
        auto belowAt = card::alertChip(below, 150);
        QCOMPARE(belowAt.symbolName, "arrow.down");
        QVERIFY(sameColor(belowAt.color, toQColor(NotchPalette::equityDownDefault())));
        QVERIFY(!card::alertChip(below, 150.01).holds);

        // Stored order kept; alerts on other symbols never coloured by this price.
        const auto chips = card::alertChips(
            {below, alert("MSFT", 1, PriceAlert::Direction::above), above}, "AAPL", 160);
        QCOMPARE(chips.size(), 2);
        QCOMPARE(chips.at(0).symbolName, "arrow.down");
        QVERIFY(!chips.at(0).holds);
        QVERIFY(chips.at(1).holds);
    }

    void portfolioLineSignsAndPercentage() {
        auto loss = card::portfolioLine(-50.5, 1000);
        QCOMPARE(loss.amountText, QString::fromUtf8("\u2212$50.50"));
        QVERIFY(sameColor(loss.color, toQColor(NotchPalette::equityDownDefault())));
        QCOMPARE(loss.percentText, std::optional<QString>("-4.81%")); // base 1050.5
        QVERIFY(sameColor(loss.percentColor, faded(loss.color, 0.85)));

        auto gain = card::portfolioLine(124, 10124);
        QCOMPARE(gain.amountText, "+$124.00");
        QCOMPARE(gain.percentText, std::optional<QString>("+1.24%"));
        QVERIFY(sameColor(gain.color, toQColor(NotchPalette::equityUpDefault())));

        // No market value, a base of 0 or a negative base: no percentage.
        for (auto [pl, value] : {std::pair{10.0, 0.0}, {100.0, 100.0}, {150.0, 100.0}})
            QVERIFY(!card::portfolioLine(pl, value).percentText);

        auto even = card::portfolioLine(0, 500);
        QCOMPARE(even.amountText, "$0.00");
        QVERIFY(sameColor(even.color, NotchPalette::textPrimary()));
        QCOMPARE(even.percentText, std::optional<QString>("0.00%"));
        // A short position that did not move sums to -0.0; it must not read "-0.00%".
        QCOMPARE(card::portfolioLine(-0.0, 500).percentText, std::optional<QString>("0.00%"));
    }

    // More than 40 points sideways steps the card, through the rule and through the model.
    void dragRule_data() {
        QTest::addColumn<double>("dx");
        QTest::addColumn<SwipeDirection>("direction");
        QTest::newRow("40 right") << 40.0 << SwipeDirection::none;
        QTest::newRow("40 left") << -40.0 << SwipeDirection::none;
        QTest::newRow("40.5 right") << 40.5 << SwipeDirection::right;
        QTest::newRow("41 left") << -41.0 << SwipeDirection::left;
        QTest::newRow("NaN") << qQNaN() << SwipeDirection::none;
    }
    void dragRule() {
        QFETCH(double, dx);
        QFETCH(SwipeDirection, direction);
        QCOMPARE(card::swipeForDrag(dx), direction);
        ExpandedCardModel model;
        QSignalSpy swipes(&model, &ExpandedCardModel::swipeRequested);
        model.dragEnded(dx);
        QCOMPARE(swipes.size(), direction == SwipeDirection::none ? 0 : 1);
        if (!swipes.isEmpty())
            QCOMPARE(swipes.at(0).at(0).toInt(), int(direction));
    }

    void sparklineScaleAndGeometry() {
        const QRectF box(10, 20, 200, 34);
        // Flat at the previous close: pad = p x 0.001, the line runs across the middle.
        auto flat = sparklineGeometry(series({50, 50, 50}), 50, {}, box);
        QCOMPARE(flat.scale.lo, 50 - 0.05);
        QCOMPARE(flat.line.size(), 3);
        QCOMPARE(flat.line.at(0), QPointF(10, 37));
        QCOMPARE(flat.line.at(2), QPointF(210, 37));
        QCOMPARE(flat.baselineY, 37.0);

        // All zero: no pad, the range floor keeps it finite, the line lies on the bottom edge.
        auto zero = sparklineGeometry(series({0, 0}), 0, {}, box);
        QCOMPARE(zero.scale.range, 0.0001);
        QCOMPARE(zero.line.at(1).y(), box.bottom());

        // Spread 100..110 with close 105: pad 0.8, so 110 sits 0.8/11.6 below the top.
        auto spread = sparklineGeometry(series({100, 110, 104}), 105, {1, 3, -1}, box);
        QVERIFY(qAbs(spread.line.at(1).y() - (20 + 34 * 0.8 / 11.6)) < 1e-9);
        QCOMPARE(spread.line.at(1).x(), 110.0);
        QCOMPARE(spread.spikeDots.size(), 1); // 3 and -1 are not samples
        QCOMPARE(spread.spikeDots.at(0), spread.line.at(1));
        QCOMPARE(spread.lastDot, std::optional<QPointF>(spread.line.at(2)));

        // One sample is the empty state; a sample with no usable price is skipped.
        QVERIFY(sparklineGeometry(series({5}), 5, {0}, box).line.isEmpty());
        auto gap = sparklineGeometry(series({1, qQNaN(), 3}), 2, {1}, box);
        QCOMPARE(gap.line.size(), 2);
        QVERIFY(gap.spikeDots.isEmpty());
        QVERIFY(std::isfinite(gap.scale.range));
    }

    void modelShowsTheActiveRecordAndFollowsTheSpikeHold() {
        ManualClock clock;
        ExpandedCardModel model(&clock, nullptr);
        QVERIFY(!model.hasStock() && !model.footerVisible());

        Stock a = stock("AAPL", 190, 200); // down 5 %
        Stock m = stock("MSFT", 410, 400);
        m.lastSpikeAt = clock.now() - 3.9;
        model.setStocks({a, m});
        QCOMPARE(model.displayedSymbol(), "AAPL"); // no active symbol: the first
        model.setActiveSymbol(QStringLiteral("NOPE"));
        QCOMPARE(model.displayedIndex(), 0);
        QVERIFY(model.footerVisible());
        QCOMPARE(model.removeTooltip(), "Remove AAPL from tracked");

        AlertEvent event = spike("MSFT", Stock::Direction::up);
        model.setAlertEvent(event);
        QVERIFY(!model.block().alertBadgeVisible);
        model.setAlertsForActive({alert("MSFT", 400, PriceAlert::Direction::above)});
        QVERIFY(model.block().alertChips.isEmpty()); // MSFT's alert is not AAPL's

        model.setActiveSymbol(QStringLiteral("MSFT"));
        CardBlock b = model.block();
        QCOMPARE(b.symbol, "MSFT");
        QVERIFY(b.alertBadgeVisible);
        QCOMPARE(b.alertBadgeText, "Breakout");
        QCOMPARE(b.alertChips.size(), 1);
        QVERIFY(b.isSpiking && b.modeBadgeText.isEmpty());
        QVERIFY(sameColor(b.directionColor, equity.spikePositiveColor()));
        QCOMPARE(b.percentText, "+2.50%");

        // The hold ends 4 s after the spike; the card redraws muted without any new input.
        QSignalSpy changed(&model, &ExpandedCardModel::changed);
        clock.advance(0.2);
        QCOMPARE(changed.size(), 1);
        QVERIFY(!model.block().isSpiking);
        QVERIFY(sameColor(model.block().directionColor, equity.mutedPositiveColor()));
        QCOMPARE(clock.pendingCount(), 0);

        model.setTheme(futures);
        QCOMPARE(model.block().modeBadgeText, "FUTURES");
        QCOMPARE(model.block().chartCaption, "OVERNIGHT");

        QVERIFY(!model.portfolioVisible());
        model.setProperty("portfolioDayPL", -50.5);
        model.setProperty("portfolioMarketValue", 1000);
        QVERIFY(model.portfolioVisible());
        model.setProperty("portfolioDayPL", QVariant());
        QVERIFY(!model.portfolioVisible() && !model.portfolioPercentVisible());
    }

    void sourceShowsThePortfolioOnlyWithHoldingsAndOnlyForEquities() {
        notchrig::Prefs rig;
        UserPreferences& prefs = rig.prefs;
        prefs.setShowFuturesAfterHours(true);
        notchrig::HeldQuotes quotes;
        ManualClock open(1704898800); // a Wednesday, 10:00 in New York
        AppState state(&prefs, &quotes, &open, {});
        state.setStocks({stock("AAPL", 110, 100)});

        ExpandedCardSource source(&state, &prefs, nullptr);
        QSignalSpy changed(&source, &ExpandedCardSource::changed);
        QVERIFY(source.portfolioDayPL().isNull()); // no holdings
        prefs.setHoldings({Holding{"AAPL", 3}});
        QVERIFY(!changed.isEmpty());
        QCOMPARE(source.portfolioDayPL().toDouble(), 30.0);
        QCOMPARE(source.portfolioMarketValue().toDouble(), 330.0);
        changed.clear();
        state.setStocks({stock("AAPL", 120, 100)});
        QVERIFY(!changed.isEmpty()); // new prices move the figures
        QCOMPARE(source.portfolioDayPL().toDouble(), 60.0);

        ManualClock weekend(1705147200); // a Saturday
        AppState futures(&prefs, &quotes, &weekend, {});
        ExpandedCardSource after(&futures, &prefs, nullptr);
        QVERIFY(after.portfolioDayPL().isNull() && after.portfolioMarketValue().isNull());
        QCOMPARE(after.theme().modeLabel, std::optional<QString>("Futures"));
    }
};

QTEST_GUILESS_MAIN(TestCard)
#include "tst_card.moc"
