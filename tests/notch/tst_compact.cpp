#include "notch/alertpulse.h"
#include "notch/carouselslide.h"
#include "notch/compactrules.h"
#include "notch/compacttapnav.h"
#include "notch/compactviewmodel.h"
#include "notch/motion.h"
#include "notch/notchformat.h"
#include "notch/tickerflash.h"
#include "notchrig.h"

#include <QQuickItem>
#include <QSignalSpy>

#include <memory>
#include <utility>

using namespace velline;
using compact::LeadingContent;
using compact::TrailingContent;
using notchrig::spike;

namespace {

constexpr double t0 = 1'700'000'000.0;

// A record moving `change` percent from a close of 100, whose latest bar moved `barMove`.
Stock stock(const QString& symbol, double change, double barMove = 0) {
    Stock s = notchrig::stock(symbol, 100 + change);
    s.intraday = {PricePoint{t0 - 600, 100, 0}, PricePoint{t0 - 300, 100 * (1 + barMove / 100), 0}};
    return s;
}

} // namespace

class TestCompact : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modesDecideWhatEachSideShows() {
        using M = DisplayMode;
        for (const auto& [mode, leading, trailing] :
             {std::tuple{M::regular, LeadingContent::logoAndTicker, TrailingContent::full},
              {M::compact, LeadingContent::ticker, TrailingContent::percentage},
              {M::compactLogo, LeadingContent::logo, TrailingContent::percentage},
              {M::doNotDisturb, LeadingContent::nothing, TrailingContent::nothing}}) {
            const bool dnd = mode == M::doNotDisturb;
            QCOMPARE(compact::leadingContent(mode, true), leading);
            QCOMPARE(compact::trailingContent(mode, true), trailing);
            QCOMPARE(compact::leadingContent(mode, false),
                     dnd ? LeadingContent::nothing : LeadingContent::placeholder);
            QCOMPARE(compact::trailingContent(mode, false),
                     dnd ? TrailingContent::nothing : TrailingContent::placeholder);
        }
    }

    void priceArrowPercentageAndTheSpikeLook() {
        ManualClock clock(t0);
        CompactViewModel vm(&clock, nullptr);
        const NotchTheme theme = vm.theme();
        // The model shows what the stored mode asks for.
        vm.setStock(stock("AAPL", 1, 2));
        vm.setDisplayModeRaw("compact2");
        QVERIFY(vm.showLogo() && !vm.showTicker() && vm.showPercent() && !vm.showPrice() &&
                !vm.showArrow());
        vm.setDisplayModeRaw("no such mode"); // read as regular
        QVERIFY(vm.showLogo() && vm.showTicker() && vm.showPrice() && vm.showArrow());

        vm.setStock(stock("ZERO", -100)); // a price of 0
        QVERIFY(!vm.showPrice() && vm.showPercent());
        vm.setStock(stock("AAPL", 87.42));
        QCOMPARE(vm.priceText(), QStringLiteral("$187.42"));

        // Only the latest bar counts for the arrow, inclusive at 1 %.
        vm.setStock(stock("AAPL", 5, -1.0));
        QCOMPARE(vm.arrowName(), QStringLiteral("arrow.down"));
        QVERIFY(vm.showArrow());
        vm.setStock(stock("AAPL", 5, -0.99));
        QVERIFY(!vm.showArrow());
        vm.setStock(stock("AAPL", -5, 1.2));
        QCOMPARE(vm.arrowName(), QStringLiteral("arrow.up"));
        // Drawn in the day's direction colour, slightly faded.
        QCOMPARE(vm.arrowColor().rgb(), toQColor(theme.mutedNegative).rgb());
        QVERIFY(qAbs(vm.arrowColor().alphaF() - 0.85) < 1e-3);

        // The flat band is inclusive; no close to compare with reads as no change.
        vm.setStock(stock("AAPL", 0.05));
        QCOMPARE(vm.percentColor(), NotchPalette::textPrimary());
        vm.setStock(stock("AAPL", 0.051));
        QCOMPARE(vm.percentColor(), toQColor(theme.mutedPositive));
        vm.setStock(notchrig::stock("AAPL", 103, 0));
        QCOMPARE(vm.percentText(), QStringLiteral("0.00%"));
        QCOMPARE(vm.percentColor(), NotchPalette::textPrimary());

        // Spiking ends by itself four seconds after the spike, in the theme given.
        vm.setTheme(NotchTheme::select({}, true)); // futures colours
        const NotchTheme futures = vm.theme();
        Stock s = stock("ES=F", -2.5);
        s.lastSpikeAt = t0 - 3.9;
        vm.setStock(s);
        QCOMPARE(vm.percentColor(), toQColor(futures.spikeNegative));
        QCOMPARE(vm.percentWeight(), 600);
        QCOMPARE(vm.percentGlowColor().rgb(), toQColor(futures.spikeNegative).rgb());
        QVERIFY(qAbs(vm.percentGlowColor().alphaF() - 0.35) < 1e-3);
        QSignalSpy changed(&vm, &CompactViewModel::changed);
        clock.advance(0.099);
        QVERIFY(vm.isSpiking());
        clock.advance(0.001); // exactly 4.0 s after the spike, no new record needed
        QVERIFY(!vm.isSpiking());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(vm.percentColor(), toQColor(futures.mutedNegative));
        QCOMPARE(vm.percentWeight(), 500);
        QCOMPARE(clock.pendingCount(), 0);

        // A record replaced mid-spike keeps one pending look, not one per record.
        s.lastSpikeAt = clock.now() - 1;
        for (int i = 0; i < 5; ++i)
            vm.setStock(s);
        QCOMPARE(clock.pendingCount(), 1);
        vm.setStock(std::nullopt);
        QCOMPARE(clock.pendingCount(), 0);
    }

    void tapStepsForwardLateAndDoubleTapStepsBack() {
        notchrig::Prefs rig;
        notchrig::HeldQuotes source;
        ManualClock clock(t0);
        AppState state(&rig.prefs, &source, &clock, nullptr);
        state.setStocks({stock("AAA", 1), stock("BBB", 1), stock("CCC", 1)});
        const auto active = [&] { return state.activeSymbol().value_or("-"); };
        QStringList visits;
        connect(&state, &AppState::activeSymbolChanged, this, [&] { visits.append(active()); });
        // A double tap steps back once with no step forward first; two single taps step
        // forward twice; the desktop's shorter interval wins.
        for (const auto& [interval, gap, expected] : {std::tuple{0.5, 0.2, QStringList{"AAA"}},
                                                      {0.28, 0.5, QStringList{"CCC", "AAA"}},
                                                      {0.15, 0.2, QStringList{"CCC", "AAA"}}}) {
            state.setActiveSymbol(QStringLiteral("BBB"));
            visits.clear();
            CompactTapNav nav(&state, &clock, interval);
            nav.tap();
            clock.advance(gap);
            nav.tap();
            clock.advance(1);
            QCOMPARE(visits, expected);
        }

        // The step forward belongs to the state: it still happens when the view is gone.
        state.setActiveSymbol(QStringLiteral("BBB"));
        std::make_unique<CompactTapNav>(&state, &clock, 0.5)->tap();
        clock.advance(CompactTapNav::maxTapDelay);
        QCOMPARE(active(), QStringLiteral("CCC"));
        QCOMPARE(CompactTapNav::tapDelayFor(qQNaN()), CompactTapNav::maxTapDelay);
    }

    // The curves themselves are pinned by the flash and pulse timelines below.
    void aMoveStartedMidWayStartsFromWhereTheValueIs() {
        AnimatedValue v(1.0);
        v.animateTo(2.0, 10, 1, TimingCurve::linear);
        v.animateTo(0.0, 10.5, 1, TimingCurve::linear);
        QCOMPARE(v.valueAt(10.5), 1.5);
        QCOMPARE(v.valueAt(11.0), 0.75);
    }

    // Handed its items, a flash moves them itself: the number's scale, its glow's opacity and
    // whether the glow shows at all.
    // A slide in virtual time: it comes in from its side and fades in, overshoots a little on
    // the spring, lands exactly at rest once the spring has settled, says so once, and leaves
    // no timer behind. Run again mid-way it starts over; leaving goes the other way.
    void aSlideMovesItselfOnTheCarouselSpring() {
        ManualClock clock(t0);
        CarouselSlide slide(&clock, nullptr);
        slide.setTravel(120);
        slide.setInset(8);
        QSignalSpy finished(&slide, &CarouselSlide::finished);
        QCOMPARE(slide.x(), 8.0);
        QCOMPARE(slide.opacity(), 1.0);
        const double settle = carouselSpring().settleTime();
        const double frame = FrameTimer::period;

        slide.run();
        QCOMPARE(slide.x(), 128.0);
        QCOMPARE(slide.opacity(), 0.0);
        clock.advance(0.1);
        QVERIFY(slide.x() < 128 && slide.x() > 8);
        slide.run(); // again, from the start
        QCOMPARE(slide.x(), 128.0);
        bool overshot = false;
        const double restart = clock.now();
        while (clock.now() + frame < restart + settle) {
            clock.advance(frame);
            overshot = overshot || slide.x() < 8 - 0.5;
            QVERIFY(slide.opacity() >= 0 && slide.opacity() <= 1);
        }
        QVERIFY(overshot);
        QVERIFY(slide.isRunning());
        QCOMPARE(finished.count(), 0);
        clock.advance(frame);
        QCOMPARE(slide.x(), 8.0);
        QCOMPARE(slide.opacity(), 1.0);
        QVERIFY(!slide.isRunning());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(clock.pendingCount(), 0);

        slide.setLeaving(true);
        slide.setSide(-1);
        slide.run();
        QCOMPARE(slide.x(), 8.0);
        clock.advance(settle + frame);
        QCOMPARE(slide.x(), 8.0 - 120);
        QCOMPARE(slide.opacity(), 0.0);
        QCOMPARE(finished.count(), 2);

        // Run again from its own end: it keeps moving (its ticker stopped at that frame before).
        bool again = true;
        connect(&slide, &CarouselSlide::finished, &slide, [&] {
            if (std::exchange(again, false))
                slide.run();
        });
        slide.run();
        clock.advance(settle + frame);
        QCOMPARE(finished.count(), 3);
        QVERIFY(slide.isRunning());
        clock.advance(0.1);
        QVERIFY(slide.x() > 8.0 - 120);
        clock.advance(settle);
        QCOMPARE(finished.count(), 4);

        // Put at rest mid-way: it stops there, finishes nothing, and its timer goes.
        slide.run();
        clock.advance(0.1);
        slide.setProgress(1);
        clock.advance(frame);
        QCOMPARE(slide.x(), 8.0 - 120);
        QCOMPARE(finished.count(), 4);
        QCOMPARE(clock.pendingCount(), 0);
    }

    void tickerFlashMovesTheItemsItIsHanded() {
        ManualClock clock(t0);
        TickerFlash flash(&clock, nullptr);
        QQuickItem number;
        auto glow = std::make_unique<QQuickItem>();
        flash.setValue(187.42);
        flash.setScaleTarget(&number);
        flash.setGlowTarget(glow.get());
        // Handed over at rest: nothing swells, the glow hides.
        QCOMPARE(number.scale(), 1.0);
        QCOMPARE(glow->opacity(), 0.0);
        QVERIFY(!glow->isVisible());

        flash.setValue(188);
        clock.advance(TickerFlash::riseTime);
        QCOMPARE(number.scale(), TickerFlash::peakScale);
        QCOMPARE(glow->opacity(), TickerFlash::glowOpacity);
        QVERIFY(glow->isVisible());
        // Half-way down, as of the last frame (a frame is a thirtieth of a second).
        clock.advance(TickerFlash::fallTime / 2);
        QVERIFY(qAbs(glow->opacity() - TickerFlash::glowOpacity / 2) < 0.05);
        QVERIFY(qAbs(number.scale() - 1.03) < 0.015);
        clock.advance(TickerFlash::fallTime / 2 + 0.1);
        QCOMPARE(number.scale(), 1.0);
        QVERIFY(!glow->isVisible());

        // An item handed over mid-flash takes the flash as it stands; coming on screen again
        // drops the flash on the items too.
        flash.setValue(187);
        clock.advance(TickerFlash::riseTime);
        QQuickItem late;
        flash.setScaleTarget(&late);
        QCOMPARE(late.scale(), TickerFlash::peakScale);
        flash.appear();
        QCOMPARE(late.scale(), 1.0);
        QVERIFY(!glow->isVisible());

        // A glow that goes away before its flash ends is let go.
        flash.setValue(190);
        glow.reset();
        clock.advance(TickerFlash::riseTime + TickerFlash::fallTime + 0.1);
        QCOMPARE(late.scale(), 1.0);
        QVERIFY(flash.glowTarget() == nullptr);
    }

    void tickerFlashFollowsItsTimeline() {
        ManualClock clock(t0);
        TickerFlash flash(&clock, nullptr);
        QSignalSpy flashed(&flash, &TickerFlash::flashed);
        flash.setValue(187.42); // the first value never flashes
        flash.setValue(187.42 + 0.00005);
        QCOMPARE(flashed.count(), 0);

        flash.setValue(187.42 + 0.00005 + 0.0002);
        QCOMPARE(flashed.count(), 1);
        QCOMPARE(flash.color(), toQColor(flash.theme().mutedPositive));
        clock.advance(0.06);
        QVERIFY(flash.scale() > 1.03 && flash.scale() < 1.06); // eased out: past half-way
        clock.advance(0.06);
        QCOMPARE(flash.scale(), 1.06);
        QCOMPARE(flash.glow(), 1.0);
        clock.advance(0.18);
        // Half-way down, ease-in-out (instants near 1.7e9 s carry about a microsecond).
        QVERIFY(qAbs(flash.scale() - 1.03) < 1e-5);
        clock.advance(0.18);
        QCOMPARE(flash.scale(), 1.0);
        QCOMPARE(flash.glow(), 0.0);
        clock.advance(0.1);
        QCOMPARE(clock.pendingCount(), 0); // frames stop once still

        flash.setValue(150);
        QCOMPARE(flash.color(), toQColor(flash.theme().mutedNegative));
        // Coming on screen again takes the value as seen and drops the flash.
        flash.appear();
        clock.advance(0.06);
        QCOMPARE(flash.scale(), 1.0);
        flash.setIsActive(false);
        flash.setValue(10);
        QCOMPARE(flashed.count(), 2);
        QCOMPARE(*flash.previousValue(), 10.0);

        // A whole flash passes through the same few sizes, so their glyphs stay cached.
        flash.setIsActive(true);
        flash.setValue(11);
        QSet<double> sizes;
        for (int ms = 0; ms <= 500; ms += 2, clock.advance(0.002))
            sizes.insert(flash.scale());
        QCOMPARE(sizes.size(), 7);
        QVERIFY(sizes.contains(1.0) && sizes.contains(1.06));
    }

    void alertPulseBeatsOncePerEventForTheSymbolOnScreen() {
        ManualClock clock(t0);
        AlertPulse pulse(&clock, nullptr);
        QSignalSpy pulsed(&pulse, &AlertPulse::pulsed);
        pulse.appear();
        pulse.setActiveSymbol(QStringLiteral("AAPL"));
        pulse.setEvent(spike("MSFT", Stock::Direction::up, t0));
        clock.runDue();
        QCOMPARE(pulsed.count(), 0);

        // The state publishes the event first and jumps to its symbol right after: both count.
        const AlertEvent e = spike("AAPL", Stock::Direction::down, t0);
        pulse.setEvent(e);
        pulse.setActiveSymbol(QStringLiteral("AAPL"));
        clock.runDue();
        QCOMPARE(pulse.color(), toQColor(pulse.theme().spikeNegative));
        const struct {
            double at, scale, glow;
        } marks[] = {
            {0.16, 1.08, 0.95}, {0.492, 1.05, 0.65}, {0.892, 1.03, 0.35}, {1.742, 1.0, 0.0}};
        const double start = clock.now();
        for (const auto& m : marks) {
            clock.advanceTo(start + m.at);
            QVERIFY2(qAbs(pulse.scale() - m.scale) < 1e-9, qPrintable(QString::number(m.at)));
            QVERIFY2(qAbs(pulse.glow() - m.glow) < 1e-9, qPrintable(QString::number(m.at)));
        }
        clock.advance(0.1);
        QCOMPARE(clock.pendingCount(), 0);

        pulse.setEvent(e); // published again: still one pulse
        clock.runDue();
        QCOMPARE(pulsed.count(), 1);

        // A view coming on screen pulses only for a young event; a change of event is not held
        // to the age rule.
        AlertPulse late(&clock, nullptr), fresh(&clock, nullptr);
        QSignalSpy latePulsed(&late, &AlertPulse::pulsed);
        late.setActiveSymbol(QStringLiteral("AAPL"));
        late.setEvent(spike("AAPL", Stock::Direction::up, clock.now() - 3));
        late.appear();
        clock.runDue();
        QCOMPARE(latePulsed.count(), 0);
        late.setEvent(spike("AAPL", Stock::Direction::flat, clock.now() - 1.9));
        clock.runDue();
        QCOMPARE(latePulsed.count(), 1);
        QCOMPARE(late.color(), QColor::fromRgbF(1.0f, 0.85f, 0.45f)); // amber
        fresh.setActiveSymbol(QStringLiteral("AAPL"));
        fresh.setEvent(spike("AAPL", Stock::Direction::up, clock.now() - 1.9));
        QSignalSpy freshPulsed(&fresh, &AlertPulse::pulsed);
        fresh.appear();
        QCOMPARE(freshPulsed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCompact)
#include "tst_compact.moc"
