// The notch controller's state machine in virtual time, with a recording stand-in for the
// panel, on two offscreen screens; plus the geometry it measures and draws with.
#include "clock/manualclock.h"
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchgeometry.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace velline;
namespace geo = velline::notchgeometry;

namespace {

// Records what the controller does to its panels: "open <screen>", "front", "fadeIn",
// "fadeOut", "close".
class FakePanel final : public NotchWindowController {
public:
    FakePanel(QStringList* log, QScreen* screen) : m_log(log), m_screen(screen) {
        *m_log << QStringLiteral("open ") + screen->name();
    }
    ~FakePanel() override { *m_log << QStringLiteral("close"); }
    QScreen* screen() const override { return m_screen; }
    void orderFront() override { *m_log << QStringLiteral("front"); }
    void fadeIn(double) override { *m_log << QStringLiteral("fadeIn"); }
    void fadeOut(double) override { *m_log << QStringLiteral("fadeOut"); }

    QStringList* m_log;
    QScreen* m_screen;
};

QScreen* screenA() {
    return QGuiApplication::screens().at(0);
}
QScreen* screenB() {
    return QGuiApplication::screens().at(1);
}

} // namespace

int runNotchSpringTests(int argc, char** argv);
int runUncoveredAreaTests(int argc, char** argv);

Q_DECLARE_METATYPE(NotchAnimation)

class TestNotchController : public QObject {
    Q_OBJECT

    std::unique_ptr<ManualClock> clock;
    QStringList log;

    std::unique_ptr<NotchController> make(NotchStyle style = NotchStyle::notch(),
                                          NotchHoverBehavior hover = NotchHoverOption::all,
                                          bool expandedOnly = false) {
        auto c = expandedOnly ? std::make_unique<NotchController>(hover, style, nullptr, nullptr,
                                                                  clock.get())
                              : std::make_unique<NotchController>(hover, style, nullptr, nullptr,
                                                                  nullptr, nullptr, clock.get());
        c->setWindowFactory([this](NotchController&, QScreen* s, const NotchStyle&) {
            return std::make_unique<FakePanel>(&log, s);
        });
        return c;
    }

    // Expanded or compact on screen A with the animations settled and the log cleared.
    std::unique_ptr<NotchController> shown(NotchState state,
                                           NotchHoverBehavior hover = NotchHoverOption::all,
                                           NotchStyle style = NotchStyle::notch()) {
        auto c = make(style, hover);
        if (state == NotchState::expanded)
            c->expand(screenA());
        else if (state == NotchState::compact)
            c->compact(screenA());
        clock->advance(1);
        log.clear();
        return c;
    }

private Q_SLOTS:
    void init() {
        clock = std::make_unique<ManualClock>(0);
        log.clear();
    }

    void contentIsBuiltOnceAndThePanelForTheStyle() {
        int compactBuilt = 0;
        int expandedBuilt = 0;
        const NotchContentBuilder compact = [&compactBuilt]() -> QQuickItem* {
            ++compactBuilt;
            return nullptr;
        };
        const NotchContentBuilder expanded = [&expandedBuilt]() -> QQuickItem* {
            ++expandedBuilt;
            return new QQuickItem;
        };
        NotchController c(NotchHoverOption::all, NotchStyle::notch(), expanded, compact, compact,
                          nullptr, clock.get());
        // The compact views at construction; the expanded one waits for the first expand.
        QCOMPARE(compactBuilt, 2);
        QCOMPARE(expandedBuilt, 0);
        QVERIFY(!c.expandedContent());
        QVERIFY(!c.windowController());
        c.setWindowFactory([this](NotchController&, QScreen* s, const NotchStyle& style) {
            log << (style.isNotch() ? "notch style" : "other style");
            return std::make_unique<FakePanel>(&log, s);
        });
        QSignalSpy contentChanged(&c, &NotchController::expandedContentChanged);
        QStringList stateWhenBuilt;
        connect(&c, &NotchController::expandedContentChanged, this,
                [&] { stateWhenBuilt << QString::number(int(c.state())) << log.join(','); });
        c.expand(screenA());
        // Built before the state changes and before a panel opens, so both see it.
        QCOMPARE(stateWhenBuilt, QStringList({QString::number(int(NotchState::hidden)), ""}));
        QVERIFY(c.expandedContent());
        QCOMPARE(c.expandedContent()->parent(), &c);
        QCOMPARE(log, QStringList({"notch style", "open A", "fadeIn"}));
        clock->advance(1);
        c.compact(screenA());
        clock->advance(1);
        c.expand(screenA());
        clock->advance(1);
        QCOMPARE(compactBuilt, 2);
        QCOMPARE(expandedBuilt, 1);
        QCOMPARE(contentChanged.count(), 1);
    }

    // A builder that gives nothing is asked once: hovering again does not retry it each time.
    void aFailedExpandedBuildIsNotRetried() {
        int built = 0;
        const NotchContentBuilder failing = [&built]() -> QQuickItem* {
            ++built;
            return nullptr;
        };
        auto c = std::make_unique<NotchController>(NotchHoverOption::all, NotchStyle::notch(),
                                                   failing, nullptr, clock.get());
        QSignalSpy contentChanged(c.get(), &NotchController::expandedContentChanged);
        c->setWindowFactory([this](NotchController&, QScreen* s, const NotchStyle&) {
            return std::make_unique<FakePanel>(&log, s);
        });
        for (int i = 0; i < 3; ++i) {
            c->expand(screenA());
            clock->advance(1);
            c->hide();
            clock->advance(1);
        }
        QCOMPARE(built, 1);
        QVERIFY(!c->expandedContent());
        QCOMPARE(contentChanged.count(), 0);
    }

    // One request from a settled state: the state and animation at once, what the panels were
    // told by the time it returns, and when it returns (not a millisecond earlier).
    void requests_data() {
        QTest::addColumn<NotchStyle>("style");
        QTest::addColumn<bool>("expandedOnly");
        QTest::addColumn<NotchState>("from");
        QTest::addColumn<QString>("request");
        QTest::addColumn<NotchState>("state");
        QTest::addColumn<NotchAnimation>("animation");
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<double>("returnsAfter");
        const NotchStyle notch = NotchStyle::notch();
        const NotchAnimation opening = NotchAnimation::spring(0.4, 0.7);
        const NotchAnimation closing = NotchAnimation::spring(0.4, 1.0);
        using S = NotchState;
        QTest::newRow("hidden, expand") << notch << false << S::hidden << "expand A" << S::expanded
                                        << opening << QStringList{"open A", "fadeIn"} << 0.4;
        QTest::newRow("expanded, the same again") << notch << false << S::expanded << "expand A"
                                                  << S::expanded << opening << QStringList() << 0.0;
        // A conversion passes through hidden, on the same panel.
        QTest::newRow("compact, expand") << notch << false << S::compact << "expand A" << S::hidden
                                         << closing << QStringList() << 0.4;
        QTest::newRow("compact, expand on another screen")
            << notch << false << S::compact << "expand B" << S::expanded << opening
            << QStringList{"close", "open B", "fadeIn"} << 0.4;
        QTest::newRow("expanded, hide") << notch << false << S::expanded << "hide" << S::hidden
                                        << closing << QStringList{"fadeOut", "close"} << 0.4;
        QTest::newRow("hidden, hide") << notch << false << S::hidden << "hide" << S::hidden
                                      << NotchController::hoverAnimation() << QStringList() << 0.0;
        // Without a compact form, compact hides: `automatic` is the floating pill on every
        // screen here, and a notch built with expanded content only has both sides disabled.
        QTest::newRow("floating, compact")
            << NotchStyle::automatic() << false << S::expanded << "compact A" << S::hidden
            << closing << QStringList{"fadeOut", "close"} << 0.4;
        QTest::newRow("floating, expand")
            << NotchStyle::automatic() << false << S::hidden << "expand A" << S::expanded
            << NotchAnimation::spring(0.4, 0.85) << QStringList{"open A", "fadeIn"} << 0.4;
        QTest::newRow("expanded only, compact")
            << notch << true << S::hidden << "compact A" << S::hidden
            << NotchController::hoverAnimation() << QStringList() << 0.0;
    }
    void requests() {
        QFETCH(NotchStyle, style);
        QFETCH(bool, expandedOnly);
        QFETCH(NotchState, from);
        QFETCH(QString, request);
        QFETCH(NotchState, state);
        QFETCH(NotchAnimation, animation);
        QFETCH(QStringList, told);
        QFETCH(double, returnsAfter);
        auto c = expandedOnly ? make(style, NotchHoverOption::all, true)
                              : shown(from, NotchHoverOption::all, style);
        bool done = false;
        const auto returned = [&] { done = true; };
        if (request == QLatin1String("hide"))
            c->hide(this, returned);
        else if (request.startsWith(QLatin1String("compact")))
            c->compact(screenA(), this, returned);
        else
            c->expand(request.endsWith(QLatin1Char('B')) ? screenB() : screenA(), this, returned);
        QCOMPARE(c->state(), state);
        QCOMPARE(c->animation(), animation);
        if (returnsAfter > 0) {
            clock->advance(returnsAfter - 0.001);
            QVERIFY(!done);
            clock->advance(0.001);
        }
        QVERIFY(done);
        QCOMPARE(log, told);
        // A panel stays exactly while something shows.
        QCOMPARE(c->windowController() != nullptr, c->state() != NotchState::hidden);
        clock->advance(1);
        QCOMPARE(c->state(), request == QLatin1String("expand A") ? NotchState::expanded : state);
        QCOMPARE(clock->pendingCount(), 0);
    }

    void conversionsSwitchAtAQuarterSecondUnlessSkipped() {
        auto c = shown(NotchState::compact);
        c->expand(screenA());
        clock->advance(0.249);
        QCOMPARE(c->state(), NotchState::hidden);
        clock->advance(0.001);
        QCOMPARE(c->state(), NotchState::expanded);
        QCOMPARE(c->animation(), NotchAnimation::spring(0.4, 0.85));

        clock->advance(1);
        NotchTransitionConfiguration config;
        config.skipIntermediateHides = true;
        config.conversionAnimation = NotchAnimation::easeOut(0.3);
        c->setTransitionConfiguration(config);
        c->compact(screenA());
        QCOMPARE(c->state(), NotchState::compact);
        QCOMPARE(c->animation(), NotchAnimation::easeOut(0.3));
        QVERIFY(log.isEmpty());
    }

    void aConversionOverlappedByAnotherShow() {
        // An expand's conversion always lands, even after a compact built a fresh panel in
        // the gap; a compact's conversion gives way to anything shown meanwhile.
        auto c = shown(NotchState::compact);
        c->expand(screenA());
        clock->advance(0.1);
        c->compact(screenA()); // hidden now, so a new panel
        QCOMPARE(log, QStringList({"close", "open A", "fadeIn"}));
        QCOMPARE(c->state(), NotchState::compact);
        clock->advance(0.15);
        QCOMPARE(c->state(), NotchState::expanded);

        clock->advance(1);
        c->compact(screenA());
        clock->advance(0.1);
        c->expand(screenA());
        clock->advance(1);
        QCOMPARE(c->state(), NotchState::expanded);
    }

    void hideAndThePointer() {
        // Without keepVisible a hovered notch hides at once; the fade starts at 0.25 s.
        auto plain = shown(NotchState::expanded, NotchHoverOption::increaseShadow);
        plain->updateHoverState(true);
        plain->hide();
        QCOMPARE(plain->state(), NotchState::hidden);
        QVERIFY(!plain->isHovering());
        clock->advance(0.249);
        QVERIFY(log.isEmpty());
        clock->advance(0.001);
        QCOMPARE(log, QStringList({"fadeOut"}));

        // With it, the hide waits for the pointer to leave, even if shown again meanwhile.
        auto c = shown(NotchState::expanded);
        c->updateHoverState(true);
        bool done = false;
        c->hide(this, [&] { done = true; });
        clock->advance(2);
        QCOMPARE(c->state(), NotchState::expanded);
        c->expand(screenA());
        c->updateHoverState(false);
        clock->advance(0.1);
        QCOMPARE(c->state(), NotchState::hidden);
        clock->advance(0.4);
        QVERIFY(done);
    }

    void aCancelledCloseResumesTheHidingCaller() {
        auto c = shown(NotchState::expanded);
        bool hidden = false;
        c->hide(this, [&] { hidden = true; });
        clock->advance(0.3); // fading out
        c->compact(screenA());
        QCOMPARE(log, QStringList({"fadeOut", "close", "open A", "fadeIn"}));
        clock->runDue();
        QVERIFY(hidden); // returns instead of waiting forever
        QCOMPARE(c->state(), NotchState::compact);
        clock->advance(1);
        QVERIFY(c->windowController()); // the cancelled close never closes the new panel

        // A caller whose context is gone is not called back.
        auto gone = std::make_unique<QObject>();
        bool resumedGone = false;
        c->hide(gone.get(), [&] { resumedGone = true; });
        gone.reset();
        c->expand(screenA());
        clock->advance(1);
        QVERIFY(!resumedGone);
    }

    void hoverIsTrackedOnlyWhileVisible() {
        auto c = make();
        QSignalSpy hovering(c.get(), &NotchController::isHoveringChanged);
        QSignalSpy haptic(c.get(), &NotchController::hapticFeedbackRequested);
        c->updateHoverState(true); // hidden: ignored
        QCOMPARE(hovering.count(), 0);

        c->compact(screenA());
        clock->advance(1);
        c->updateHoverState(true);
        c->updateHoverState(true);
        QCOMPARE(hovering.count(), 1);
        QCOMPARE(haptic.count(), 1);
        QCOMPARE(c->animation(), NotchController::hoverAnimation());

        // The gap of a conversion ignores the pointer leaving, and keeps the flag.
        c->expand(screenA());
        c->updateHoverState(false);
        clock->advance(1);
        QCOMPARE(c->state(), NotchState::expanded);
        QVERIFY(c->isHovering());

        // Without hapticFeedback no tick is asked for.
        auto quiet = shown(NotchState::compact, NotchHoverOption::keepVisible);
        QSignalSpy quietHaptic(quiet.get(), &NotchController::hapticFeedbackRequested);
        quiet->updateHoverState(true);
        QCOMPARE(quietHaptic.count(), 0);
    }

    void screenChangesRebuildOnTheFirstScreenInFront() {
        auto c = make();
        // One display change arrives as a burst of signals; the panel is rebuilt once, on the
        // first screen, in front, whatever the state (hidden here).
        Q_EMIT qGuiApp->screenAdded(screenB());
        Q_EMIT screenB()->geometryChanged(screenB()->geometry());
        Q_EMIT qGuiApp->primaryScreenChanged(screenA());
        QVERIFY(log.isEmpty());
        clock->runDue();
        QCOMPARE(log, QStringList({"open A", "front"}));
        QCOMPARE(c->state(), NotchState::hidden);

        c->expand(screenB());
        clock->advance(1);
        log.clear();
        Q_EMIT screenA()->availableGeometryChanged(screenA()->availableGeometry());
        clock->runDue();
        QCOMPARE(log, QStringList({"close", "open A", "front"}));
        QCOMPARE(c->state(), NotchState::expanded);
    }

    // The notch hangs just below a top panel's strip, never over it, and from the top edge
    // where no top panel reserves one.
    void placementOnAScreen_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<qreal>("menubar");
        QTest::addColumn<QRectF>("notch");
        QTest::addColumn<QRect>("panel");
        const QRect right(1920, 0, 1920, 1080);
        QTest::newRow("top panel") << right << right.adjusted(0, 27, 0, 0) << 27.0
                                   << QRectF(2730, 27, 300, 27) << QRect(2400, 27, 960, 540);
        QTest::newRow("no panel") << right << right << 32.0 << QRectF(2730, 0, 300, 32)
                                  << QRect(2400, 0, 960, 540);
        QTest::newRow("bottom panel") << right << right.adjusted(0, 0, 0, -40) << 32.0
                                      << QRectF(2730, 0, 300, 32) << QRect(2400, 0, 960, 540);
        QTest::newRow("strip of half the screen")
            << right << right.adjusted(0, 540, 0, 0) << 32.0 << QRectF(2730, 0, 300, 32)
            << QRect(2400, 0, 960, 540);
        QTest::newRow("screen below another, with a panel")
            << QRect(0, 1080, 1280, 800) << QRect(0, 1080 + 30, 1280, 770) << 30.0
            << QRectF(490, 1110, 300, 30) << QRect(240, 1110, 800, 400);
        QTest::newRow("1920 x 1080 at twice the scale, panel of 14 points")
            << QRect(0, 0, 960, 540) << QRect(0, 14, 960, 526) << 14.0 << QRectF(330, 14, 300, 14)
            << QRect(80, 14, 800, 270);
        QTest::newRow("screen narrower than the panel")
            << QRect(0, 0, 640, 480) << QRect(0, 0, 640, 480) << 32.0 << QRectF(170, 0, 300, 32)
            << QRect(0, 0, 640, 240);
    }
    void placementOnAScreen() {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(qreal, menubar);
        QFETCH(QRectF, notch);
        QFETCH(QRect, panel);
        QCOMPARE(geo::menubarHeight(screen, available), menubar);
        QCOMPARE(geo::notchFrame(screen, available), notch);
        QCOMPARE(geo::panelFrame(screen, available), panel);
    }

    void stylesResolvePerScreen() {
        QCOMPARE(geo::resolvedStyle(NotchStyle::automatic(), screenA()), NotchStyle::floating());
        QCOMPARE(geo::resolvedStyle(NotchStyle::notch(), screenA()), NotchStyle::notch(15, 20));
        QCOMPARE(NotchStyle::notch(-3, qQNaN()), NotchStyle::notch(0, 0));
    }

    void radiiAndShadowFollowTheState() {
        using S = NotchState;
        QCOMPARE(geo::cornerRadii(S::compact, NotchStyle::notch(9, 30)), (geo::CornerRadii{6, 14}));
        QCOMPARE(geo::cornerRadii(S::hidden, NotchStyle::notch(9, 30)), (geo::CornerRadii{6, 14}));
        QCOMPARE(geo::cornerRadii(S::expanded, NotchStyle::notch(9, 30)),
                 (geo::CornerRadii{9, 30}));
        QCOMPARE(geo::cornerRadii(S::expanded, NotchStyle::floating()), (geo::CornerRadii{15, 20}));
        QCOMPARE(geo::outlineWidth(S::compact, NotchStyle::notch(), 300), 312.0);
        QCOMPARE(geo::outlineWidth(S::expanded, NotchStyle::notch(9, 30), 300), 318.0);
        QCOMPARE(geo::outlineWidth(S::expanded, NotchStyle::automatic(), 300), 330.0);

        const NotchHoverBehavior all = NotchHoverOption::all;
        const NotchHoverBehavior none;
        QCOMPARE(geo::shadow(S::compact, false, all), (geo::Shadow{0, 10}));
        QCOMPARE(geo::shadow(S::compact, true, all), (geo::Shadow{0.8, 20}));
        QCOMPARE(geo::shadow(S::expanded, false, all), (geo::Shadow{0.5, 10}));
        QCOMPARE(geo::shadow(S::expanded, true, none), (geo::Shadow{0.5, 10}));
        QCOMPARE(geo::shadow(S::hidden, true, all), (geo::Shadow{0.8, 0}));
    }

    void outlineHangsFromTheTopEdge() {
        using T = geo::PathElement::Type;
        const auto o = geo::notchOutline(QRectF(10, 0, 312, 32), 6, 14);
        QCOMPARE(o.size(), 9);
        QCOMPARE(o.first(), (geo::PathElement{T::moveTo, {10, 0}, {}}));
        QCOMPARE(o[1], (geo::PathElement{T::quadTo, {16, 6}, {16, 0}}));     // left fillet
        QCOMPARE(o[3], (geo::PathElement{T::quadTo, {30, 32}, {16, 32}}));   // bottom left
        QCOMPARE(o[5], (geo::PathElement{T::quadTo, {316, 18}, {316, 32}})); // bottom right
        QCOMPARE(o[7], (geo::PathElement{T::quadTo, {322, 0}, {316, 0}}));   // right fillet
        QCOMPARE(o.last(), (geo::PathElement{T::lineTo, {10, 0}, {}}));
        const QPainterPath path = geo::toPainterPath(o);
        QVERIFY(path.contains(QPointF(166, 16)));
        QVERIFY(!path.contains(QPointF(12, 10))); // beside the fillet, outside
        QCOMPARE(geo::toSvgPath(o).left(20), QStringLiteral("M 10 0 Q 16 0 16 6 L"));

        // Radii too large for the rectangle shrink instead of folding the outline over.
        const auto tight = geo::notchOutline(QRectF(0, 0, 40, 20), 15, 20);
        for (const auto& e : tight)
            QVERIFY(e.to.x() >= 0 && e.to.x() <= 40 && e.to.y() >= 0 && e.to.y() <= 20);
        QVERIFY(tight[2].to.x() <= tight[6].to.x()); // left side stays left of the right side
        QVERIFY(tight[2].to.y() >= tight[1].to.y()); // and below the fillet
    }

    void contentRectIsTheLargestRectangleInsideTheOutline() {
        // The open card, the closed notch, radii larger than the rectangle allows, no corners.
        for (const auto& [rect, top, bottom] : {std::tuple{QRectF(0.5, 0, 413, 232), 15.0, 20.0},
                                                {QRectF(0.5, 0, 311, 32), 6.0, 14.0},
                                                {QRectF(0, 0, 40, 20), 15.0, 20.0},
                                                {QRectF(3, 0, 200, 90), 0.0, 0.0}}) {
            const QRectF inner = geo::contentRect(rect, top, bottom);
            const QPainterPath outline = geo::toPainterPath(geo::notchOutline(rect, top, bottom));
            QVERIFY(!inner.isEmpty());
            QCOMPARE(inner.top(), rect.top()); // content may start at the top edge
            // Grown by the margin, every corner lies inside the outline, or on it (allowing
            // for its drawn curves)...
            const QRectF edge =
                inner.adjusted(-geo::kContentMargin, 0, geo::kContentMargin, geo::kContentMargin);
            const QRectF shrunk = edge.adjusted(0.25, 0.25, -0.25, -0.25);
            for (QPointF p :
                 {shrunk.topLeft(), shrunk.topRight(), shrunk.bottomLeft(), shrunk.bottomRight()})
                QVERIFY2(outline.contains(p),
                         qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
            // ...and a step further out along the diagonal leaves it: nothing larger fits.
            const QRectF grown = edge.adjusted(-0.05, 0, 0.05, 0.05);
            QVERIFY(!outline.contains(grown.bottomLeft()));
            QVERIFY(!outline.contains(grown.bottomRight()));
        }
        // The card's corners are cut a quarter radius and a point in: 15 + 5 + 1 from the
        // sides, 5 + 1 from the bottom.
        QCOMPARE(geo::contentRect(QRectF(0, 0, 414, 232), 15, 20), QRectF(21, 0, 372, 226));
        QVERIFY(geo::contentRect(QRectF(0, 0, 0, 32), 6, 14).isEmpty());
        QVERIFY(geo::contentRect(QRectF(0, 0, 13, 32), 6, 14).isEmpty());
    }
};

int main(int argc, char** argv) {
    // Two screens side by side, so the tests can move the notch between them.
    qputenv("QT_QPA_PLATFORM",
            "offscreen:configfile=" VELLINE_SOURCE_DIR "/tests/notchlayer/twoscreens.json");
    QGuiApplication app(argc, argv);
    if (QGuiApplication::screens().size() != 2)
        qFatal("expected two offscreen screens");
    TestNotchController test;
    return QTest::qExec(&test, argc, argv) | runNotchSpringTests(argc, argv) |
           runUncoveredAreaTests(argc, argv);
}

#include "tst_notchcontroller.moc"
