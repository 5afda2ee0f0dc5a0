// The notch controller's state machine in virtual time, with a recording stand-in for the
// panel, on two offscreen screens; plus the geometry it measures and draws with.
#include "clock/manualclock.h"
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchgeometry.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
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

private:
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

class TestNotchController : public QObject {
    Q_OBJECT

    ManualClock* clock = nullptr;
    QStringList log;

    std::unique_ptr<NotchController> make(NotchStyle style = NotchStyle::notch(),
                                          NotchHoverBehavior hover = NotchHoverOption::all,
                                          bool expandedOnly = false) {
        std::unique_ptr<NotchController> c;
        if (expandedOnly)
            c = std::make_unique<NotchController>(hover, style, nullptr, nullptr, clock);
        else
            c = std::make_unique<NotchController>(hover, style, nullptr, nullptr, nullptr, nullptr,
                                                  clock);
        c->setWindowFactory([this](NotchController&, QScreen* s, const NotchStyle&) {
            return std::make_unique<FakePanel>(&log, s);
        });
        return c;
    }

    // Expanded or compact on screen A with the animations settled and the log cleared.
    std::unique_ptr<NotchController> shown(NotchState state,
                                           NotchHoverBehavior hover = NotchHoverOption::all) {
        auto c = make(NotchStyle::notch(), hover);
        if (state == NotchState::expanded)
            c->expand(screenA());
        else
            c->compact(screenA());
        clock->advance(1);
        log.clear();
        return c;
    }

private Q_SLOTS:
    void init() {
        clock = new ManualClock(0);
        log.clear();
    }
    void cleanup() {
        delete clock;
        clock = nullptr;
    }

    void showingFromHiddenBuildsAPanelAndReturnsAfterTheDelay() {
        int built = 0;
        const NotchContentBuilder counting = [&built]() -> QQuickItem* {
            ++built;
            return nullptr;
        };
        NotchController c(NotchHoverOption::all, NotchStyle::notch(), counting, counting, counting,
                          nullptr, clock);
        QCOMPARE(built, 3); // every content once, at construction
        QCOMPARE(c.state(), NotchState::hidden);
        QVERIFY(!c.windowController());
        c.setWindowFactory([this](NotchController&, QScreen* s, const NotchStyle& style) {
            log << (style.isNotch() ? "notch style" : "other style");
            return std::make_unique<FakePanel>(&log, s);
        });

        bool done = false;
        c.expand(screenA(), this, [&] { done = true; });
        QCOMPARE(c.state(), NotchState::expanded);
        QCOMPARE(log, QStringList({"notch style", "open A", "fadeIn"}));
        QCOMPARE(c.animation(), NotchAnimation::spring(0.4, 0.7)); // opening, notch style
        QCOMPARE(c.notchSize(), QSizeF(300, 32));
        QCOMPARE(c.menubarHeight(), 32.0);
        clock->advance(0.399);
        QVERIFY(!done);
        clock->advance(0.001);
        QVERIFY(done);
        QCOMPARE(built, 3);

        // The same request again returns at once and touches nothing.
        log.clear();
        done = false;
        c.expand(screenA(), this, [&] { done = true; });
        QVERIFY(done);
        QVERIFY(log.isEmpty());
        QCOMPARE(clock->pendingCount(), 0);
    }

    void conversionsPassThroughHiddenUnlessSkipped() {
        // compact → expanded: hidden at 0 with the closing spring, expanded at 0.25 with the
        // conversion spring, returns at 0.4, same panel.
        auto c = shown(NotchState::compact);
        bool done = false;
        c->expand(screenA(), this, [&] { done = true; });
        QCOMPARE(c->state(), NotchState::hidden);
        QCOMPARE(c->animation(), NotchAnimation::spring(0.4, 1.0));
        clock->advance(0.249);
        QCOMPARE(c->state(), NotchState::hidden);
        clock->advance(0.001);
        QCOMPARE(c->state(), NotchState::expanded);
        QCOMPARE(c->animation(), NotchAnimation::spring(0.4, 0.85));
        QVERIFY(!done);
        clock->advance(0.15);
        QVERIFY(done);
        QVERIFY(log.isEmpty());

        // Skipping the intermediate hide switches at once.
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
        clock->advance(0.15);
        QCOMPARE(c->state(), NotchState::expanded);
        clock->advance(1);
        QCOMPARE(c->state(), NotchState::expanded);
    }

    void compactWithoutACompactFormHides() {
        // `automatic` resolves to the floating pill on every screen here.
        auto floating = make(NotchStyle::automatic());
        floating->expand(screenA());
        QCOMPARE(floating->animation(), NotchAnimation::spring(0.4, 0.85)); // not a notch style
        clock->advance(1);
        bool done = false;
        floating->compact(screenA(), this, [&] { done = true; });
        QCOMPARE(floating->state(), NotchState::hidden);
        clock->advance(0.4);
        QVERIFY(done);
        QVERIFY(!floating->windowController());

        // Built with expanded content only: both sides disabled, compact hides (at once here).
        auto expandedOnly = make(NotchStyle::notch(), NotchHoverOption::all, true);
        QVERIFY(expandedOnly->disableCompactLeading() && expandedOnly->disableCompactTrailing());
        log.clear();
        done = false;
        expandedOnly->compact(screenA(), this, [&] { done = true; });
        QVERIFY(done);
        QVERIFY(log.isEmpty());
        QCOMPARE(expandedOnly->state(), NotchState::hidden);
    }

    void hideClosesThePanelAfterTheFade() {
        bool done = false;
        // keepVisible is not set here, so a hovered notch hides at once.
        auto plain = shown(NotchState::expanded, NotchHoverOption::increaseShadow);
        plain->updateHoverState(true);
        plain->hide(this, [&] { done = true; });
        QCOMPARE(plain->state(), NotchState::hidden);
        QVERIFY(!plain->isHovering());
        clock->advance(0.249);
        QVERIFY(log.isEmpty());
        clock->advance(0.001);
        QCOMPARE(log, QStringList({"fadeOut"}));
        clock->advance(0.149);
        QVERIFY(!done);
        clock->advance(0.001);
        QCOMPARE(log, QStringList({"fadeOut", "close"}));
        QVERIFY(done);
        QVERIFY(!plain->windowController());

        // Already hidden: returns at once, the panel is not touched.
        log.clear();
        done = false;
        plain->hide(this, [&] { done = true; });
        QVERIFY(done);
        QVERIFY(log.isEmpty());
    }

    void hideWaitsForThePointerWithKeepVisible() {
        auto c = shown(NotchState::expanded);
        c->updateHoverState(true);
        bool done = false;
        c->hide(this, [&] { done = true; });
        clock->advance(2);
        QCOMPARE(c->state(), NotchState::expanded);
        // Shown again in between: the pending hide still wins once the pointer leaves.
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
        auto gone = std::make_unique<QObject>();
        bool resumedGone = false;
        clock->advance(0.3); // fading out
        c->compact(screenA());
        QCOMPARE(log, QStringList({"fadeOut", "close", "open A", "fadeIn"}));
        clock->runDue();
        QVERIFY(hidden); // returns instead of waiting forever
        QCOMPARE(c->state(), NotchState::compact);
        clock->advance(1);
        QVERIFY(c->windowController()); // the cancelled close never closes the new panel

        // A caller whose context is gone is not called back.
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

    void anotherScreenGetsAFreshPanel() {
        auto c = shown(NotchState::compact);
        bool done = false;
        c->expand(screenB(), this, [&] { done = true; });
        QCOMPARE(log, QStringList({"close", "open B", "fadeIn"}));
        QCOMPARE(c->state(), NotchState::expanded);
        QCOMPARE(c->animation(), c->openingAnimation());
        QCOMPARE(c->notchSize(), QSizeF(300, 32));
        clock->advance(0.4);
        QVERIFY(done);
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
        QTest::newRow("side panel") << right << right.adjusted(48, 0, 0, 0) << 32.0
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

    void screenMeasurements() {

        QCOMPARE(geo::resolvedStyle(NotchStyle::automatic(), screenA()), NotchStyle::floating());
        QCOMPARE(geo::resolvedStyle(NotchStyle::notch(), screenA()), NotchStyle::notch(15, 20));
        QVERIFY(NotchStyle::automatic() == NotchStyle());
        QVERIFY(!(NotchStyle::notch(20, 20) == NotchStyle::floating(20)));
        QVERIFY(!(NotchStyle::notch(15, 21) == NotchStyle::notch()));
        QCOMPARE(NotchStyle::notch(-3, qQNaN()), NotchStyle::notch(0, 0));

        const NotchHoverBehavior all = NotchHoverOption::all;
        QCOMPARE(all.toInt(), 7);
        QCOMPARE(
            NotchHoverBehavior({NotchHoverOption::keepVisible, NotchHoverOption::hapticFeedback,
                                NotchHoverOption::increaseShadow}),
            all);
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
        for (const auto& e : tight) {
            QVERIFY(e.to.x() >= 0 && e.to.x() <= 40 && e.to.y() >= 0 && e.to.y() <= 20);
        }
        QVERIFY(tight[2].to.x() <= tight[6].to.x()); // left side stays left of the right side
        QVERIFY(tight[2].to.y() >= tight[1].to.y()); // and below the fillet
    }

    void contentRectIsTheLargestRectangleInsideTheOutline() {
        struct Case {
            QRectF rect;
            qreal top, bottom;
        };
        const QList<Case> cases{
            {{0.5, 0, 413, 232}, 15, 20}, // the open card
            {{0.5, 0, 311, 32}, 6, 14},   // the closed notch
            {{0, 0, 40, 20}, 15, 20},     // radii larger than the rectangle allows
            {{3, 0, 200, 90}, 0, 0},      // no corners at all
        };
        for (const Case& c : cases) {
            const QRectF inner = geo::contentRect(c.rect, c.top, c.bottom);
            const QPainterPath outline =
                geo::toPainterPath(geo::notchOutline(c.rect, c.top, c.bottom));
            QVERIFY(!inner.isEmpty());
            QCOMPARE(inner.top(), c.rect.top()); // content may start at the top edge
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
    QTemporaryDir dir;
    const auto screen = [](const char* name, int x) {
        return QJsonObject{{"name", name},  {"x", x},         {"y", 0},
                           {"width", 1920}, {"height", 1080}, {"logicalDpi", 96}};
    };
    QFile config(dir.filePath(QStringLiteral("screens.json")));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(
        QJsonDocument(QJsonObject{{"screens", QJsonArray{screen("A", 0), screen("B", 1920)}}})
            .toJson());
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    QGuiApplication app(argc, argv);
    if (QGuiApplication::screens().size() != 2)
        qFatal("expected two offscreen screens");
    TestNotchController test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchcontroller.moc"
