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

QList<PricePoint> series(std::initializer_list<double> prices) {
    QList<PricePoint> points;
    for (double p : prices)
        points.append(PricePoint{300.0 * points.size(), p, 0});
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
    }

    void fiveMinuteMoveAndVolumeChipsStartAtTheirThresholds() {
        for (double quiet : {0.049, -0.049, qQNaN()})
            QVERIFY(!card::moveChip(quiet, false, equity));
        const auto up = card::moveChip(0.05, false, equity).value();
        QCOMPARE(up.text, "+0.05% (5m)");
        QCOMPARE(up.symbolName, "arrow.up.right");
        const auto down = card::moveChip(-0.06, false, equity).value();
        QCOMPARE(down.symbolName, "arrow.down.right");
        // Muted, loud from a 1 % move, or loud for any move while spiking.
        for (auto [move, spiking, color] : {std::tuple{0.05, false, equity.mutedPositiveColor()},
                                            {-0.06, false, equity.mutedNegativeColor()},
                                            {0.99, false, equity.mutedPositiveColor()},
                                            {-1.0, false, equity.spikeNegativeColor()},
                                            {0.2, true, equity.spikePositiveColor()}})
            QVERIFY(sameColor(card::moveChip(move, spiking, equity).value().color, color));
        QVERIFY(sameColor(card::moveColor(0, true, equity), NotchPalette::textPrimary()));

        const QColor up3 = equity.mutedPositiveColor();
        QVERIFY(!card::volumeChip(1.49, up3));
        QVERIFY(!card::volumeChip(qInf(), up3));
        auto quiet = card::volumeChip(1.5, up3);
        QCOMPARE(quiet->text, "1.5x");
        QVERIFY(sameColor(quiet->color, faded(NotchPalette::textPrimary(), 0.8)));
        QCOMPARE(card::volumeChip(2.44, up3)->text, "2.4x");
        QVERIFY(sameColor(card::volumeChip(3.0, up3)->color, faded(up3, 0.95)));
    }

    void statisticsChartTextsAndTheDragRule() {
        QCOMPARE(card::previousCloseText(187), "prev $187.00");
        QCOMPARE(card::dollars(1234567.891), "$1234567.89"); // no grouping
        Stock s;
        s.contextTag = QString();
        QVERIFY(!card::contextTagText(s));
        // Tests run with TZ=Europe/Berlin (UTC+1 in January).
        const double morning = 1705307400; // 2024-01-15 09:30 local
        QCOMPARE(card::shortTime(morning + 2.5 * 3600 + 300), "12:05p");
        QCOMPARE(card::shortTime(morning - 9.5 * 3600 + 300), "12:05a");
        QCOMPARE(
            card::chartTimeRange({PricePoint{morning, 1, 0}, PricePoint{morning + 23400, 1, 0}}),
            QString::fromUtf8("9:30a \u2013 4:00p"));

        QCOMPARE(card::spikeLegend(1), "1 spike");
        QCOMPARE(card::spikeLegend(3), "3 spikes");

        // More than 40 points sideways steps the card (the view hands over the drag).
        using S = SwipeDirection;
        for (auto [dx, direction] : {std::pair{40.0, S::none},
                                     {-40.0, S::none},
                                     {40.5, S::right},
                                     {-41.0, S::left},
                                     {qQNaN(), S::none}})
            QCOMPARE(card::swipeForDrag(dx), direction);
    }

    void alertChipsLightWhileTheirConditionHolds() {
        const auto above = alert("AAPL", 150, PriceAlert::Direction::above);
        const auto below = alert("AAPL", 150, PriceAlert::Direction::below);
        auto at = card::alertChip(above, 150.00);
        QCOMPARE(at.symbolName, "arrow.up");
        QVERIFY(at.holds);
        QVERIFY(sameColor(at.color, toQColor(NotchPalette::equityUpDefault())));
        QVERIFY(sameColor(card::alertChip(above, 149.99).color,
                          faded(NotchPalette::textPrimary(), 0.8)));
        QVERIFY(sameColor(card::alertChip(below, 150).color,
                          toQColor(NotchPalette::equityDownDefault())));
        QVERIFY(!card::alertChip(below, 150.01).holds);

        // Stored order kept; alerts on other symbols never coloured by this price.
        const auto chips = card::alertChips(
            {below, alert("MSFT", 1, PriceAlert::Direction::above), above}, "AAPL", 160);
        QCOMPARE(chips.size(), 2);
        QCOMPARE(chips.at(0).symbolName, "arrow.down");
        QVERIFY(!chips.at(0).holds && chips.at(1).holds);
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

        // No market value, a base of 0 or a negative base: no percentage.
        for (auto [pl, value] : {std::pair{10.0, 0.0}, {100.0, 100.0}, {150.0, 100.0}})
            QVERIFY(!card::portfolioLine(pl, value).percentText);

        auto even = card::portfolioLine(0, 500);
        QCOMPARE(even.amountText, "$0.00");
        QVERIFY(sameColor(even.color, NotchPalette::textPrimary()));
        // A short position that did not move sums to -0.0; it must not read "-0.00%".
        QCOMPARE(card::portfolioLine(-0.0, 500).percentText, std::optional<QString>("0.00%"));
    }

    void sparklineScaleAndGeometry() {
        const QRectF box(10, 20, 200, 34);
        // Flat at the previous close: pad = p x 0.001, the line runs across the middle.
        auto flat = sparklineGeometry(series({50, 50, 50}), 50, {}, box);
        QCOMPARE(flat.scale.lo, 50 - 0.05);
        QCOMPARE(flat.line.at(0), QPointF(10, 37));
        QCOMPARE(flat.line.at(2), QPointF(210, 37));
        QCOMPARE(flat.baselineY, 37.0);

        // All zero: no pad, the range floor keeps it finite, the line lies on the bottom edge.
        auto zero = sparklineGeometry(series({0, 0}), 0, {}, box);
        QCOMPARE(zero.line.at(1).y(), box.bottom());

        // Spread 100..110 with close 105: pad 0.8, so 110 sits 0.8/11.6 below the top.
        auto spread = sparklineGeometry(series({100, 110, 104}), 105, {1, 3, -1}, box);
        QVERIFY(qAbs(spread.line.at(1).y() - (20 + 34 * 0.8 / 11.6)) < 1e-9);
        QCOMPARE(spread.spikeDots.size(), 1); // 3 and -1 are not samples
        QCOMPARE(spread.spikeDots.at(0), spread.line.at(1));
        QCOMPARE(spread.lastDot, std::optional<QPointF>(spread.line.at(2)));

        // One sample is the empty state; a sample with no usable price is skipped.
        QVERIFY(sparklineGeometry(series({5}), 5, {0}, box).line.isEmpty());
        auto gap = sparklineGeometry(series({1, qQNaN(), 3}), 2, {1}, box);
        QCOMPARE(gap.line.size(), 2);
        QVERIFY(gap.spikeDots.isEmpty());
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
        QVERIFY(b.alertBadgeVisible);
        QCOMPARE(b.alertChips.size(), 1);
        QVERIFY(b.isSpiking && b.modeBadgeText.isEmpty());
        QVERIFY(sameColor(b.directionColor, equity.spikePositiveColor()));
        QCOMPARE(b.percentText, "+2.50%");

        // The hold ends 4 s after the spike; the card redraws muted without any new input.
        QSignalSpy changed(&model, &ExpandedCardModel::changed);
        clock.advance(0.2);
        QCOMPARE(changed.size(), 1);
        QVERIFY(sameColor(model.block().directionColor, equity.mutedPositiveColor()));
        QCOMPARE(clock.pendingCount(), 0);

        model.setTheme(futures);
        QCOMPARE(model.block().modeBadgeText, "FUTURES");
        QCOMPARE(model.block().chartCaption, "OVERNIGHT");

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
