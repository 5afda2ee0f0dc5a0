// velline-screenshots: the notch as it appears at the top of a screen, in each state, as PNG
// files: the real notch window with the program's three views, fed from a private watch state
// on virtual time with logos from a local simulator (no network). Needs an X display; run it
// under xvfb-run (scripts/screenshots.sh does, at twice the size).
//   velline-screenshots [OUTPUT_DIR]     (default: the current directory)
//   velline-screenshots --frames [OUTPUT_DIR]
//       frames of the transitions instead, as the X server shows them (so with whatever
//       compositor runs): the card opening and closing, a ticker flash while the digits roll,
//       and an alert pulse on a symbol sliding in. The virtual clock follows real time.

#include "app/appdelegate.h"
#include "notchlayer/notchpanel.h"
#include "shotrig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QQmlEngine>
#include <QRasterWindow>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <cstdio>

using namespace velline;
using namespace velline::notchshot;

namespace {

// Desktop around the notch, in points.
constexpr int sideMargin = 40;
constexpr int bottomMargin = 36;
const QColor desktop(0x56, 0x65, 0x7a);

NotchPanel* findPanel() {
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (auto* panel = qobject_cast<NotchPanel*>(window); panel && panel->isVisible())
            return panel;
    return nullptr;
}

// The drawn notch with a strip of desktop around it.
QImage cropToNotch(NotchPanel* panel) {
    const QImage window = panel->grabWindow();
    if (window.isNull())
        return {};
    // The grab is in device pixels (whatever ratio it reports).
    const qreal dpr = qreal(window.width()) / panel->width();
    QRect notch = panel->inputRegion().boundingRect();
    notch.adjust(-sideMargin, 0, sideMargin, bottomMargin);
    notch.setTop(0);
    const QRect source(QPoint(qRound(notch.x() * dpr), 0),
                       QSize(qRound(notch.width() * dpr), qRound(notch.height() * dpr)));
    QImage out(source.size(), QImage::Format_RGB32);
    out.fill(desktop);
    QPainter painter(&out);
    painter.drawImage(QPoint(0, 0), window.copy(source));
    return out;
}

// The screen around the notch as the X server shows it (not a fresh rendering).
QImage screenAroundNotch(QScreen* screen) {
    const QRect geometry = screen->geometry();
    const int width = geometry.width() / 3;
    const QImage shot =
        screen->grabWindow(0, geometry.center().x() - width / 2, 0, width, geometry.height() / 4)
            .toImage();
    return shot;
}

// Records the screen for `ms` milliseconds after `start`, moving the rig's clock along.
int recordFrames(const QDir& out, const QString& name, ShotRig& rig, QScreen* screen, int ms,
                 const std::function<void()>& start) {
    QElapsedTimer clock;
    start();
    clock.start();
    qint64 last = 0;
    int frame = 0;
    int failures = 0;
    while (clock.elapsed() < ms) {
        QTest::qWait(8);
        const qint64 now = clock.elapsed();
        rig.clock().advance((now - last) / 1000.0);
        last = now;
        const QImage image = screenAroundNotch(screen);
        const QString path = out.filePath(QStringLiteral("%1-%2-%3ms.png")
                                              .arg(name)
                                              .arg(frame++, 3, 10, QLatin1Char('0'))
                                              .arg(now));
        if (image.isNull() || !image.save(path))
            ++failures;
    }
    std::printf("%s: %d frames\n", qPrintable(name), frame);
    return failures;
}

// A plain desktop under the notch, so what the panel shows (and what it hides) can be told
// from the screen behind it, with a compositor or without.
class Desktop : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), desktop);
    }
};

int framesOfTransitions(const QDir& out, ShotRig& rig, NotchController& notch, QScreen* screen,
                        const QList<Stock>& day) {
    Desktop backdrop;
    backdrop.setFlags(Qt::FramelessWindowHint);
    backdrop.setGeometry(screen->geometry());
    backdrop.show();
    if (!QTest::qWaitForWindowExposed(&backdrop))
        std::fprintf(stderr, "the desktop did not show\n");
    int failures = 0;
    rig.prefs().setDisplayMode(DisplayMode::regular);
    rig.show(day, "AAPL");
    notch.compact(screen);
    if (!QTest::qWaitFor([&] { return notch.isCompact(); }, 5000))
        std::fprintf(stderr, "the notch did not settle\n");
    rig.clock().advance(2.5);
    QTest::qWait(900);
    failures += recordFrames(out, QStringLiteral("open"), rig, screen, 900, [&] {
        notch.expand(screen);
        QTimer::singleShot(300, &notch, [&] { notch.updateHoverState(true); });
    });
    failures += recordFrames(out, QStringLiteral("close"), rig, screen, 900, [&] {
        notch.updateHoverState(false);
        notch.compact(screen);
    });
    QTest::qWait(500);
    failures += recordFrames(out, QStringLiteral("flash"), rig, screen, 700, [&] {
        QList<Stock> moved = day;
        moved[0].price += 0.47;
        rig.show(moved, "AAPL");
    });
    QTest::qWait(500);
    failures += recordFrames(out, QStringLiteral("pulse-slide"), rig, screen, 1000, [&] {
        QList<Stock> spiking = day;
        spiking[1].lastSpikeAt = rig.clock().now();
        rig.show(spiking, "AAPL");
        AlertEvent event;
        event.id = QUuid::createUuid();
        event.symbol = spiking[1].symbol;
        event.reason = AlertEvent::Reason::spike();
        event.direction = Stock::Direction::down;
        event.timestamp = rig.clock().now();
        rig.state().fireAlert(event);
        rig.state().setActiveSymbol(spiking[1].symbol);
    });
    // The remove button's tool tip, which reaches past the card's edge.
    notch.expand(screen);
    if (!QTest::qWaitFor([&] { return notch.isExpanded(); }, 5000))
        std::fprintf(stderr, "the card did not open\n");
    QTest::qWait(900);
    QQuickItem* remove = notch.expandedContent()->findChild<QQuickItem*>("removeButton");
    NotchPanel* panel = findPanel();
    if (remove && panel) {
        const QPointF centre = remove->mapToScene(QPointF(remove->width(), remove->height()) / 2);
        QTest::mouseMove(panel, centre.toPoint());
        QTest::qWait(1500);
        const QImage image = screenAroundNotch(screen);
        if (image.isNull() || !image.save(out.filePath(QStringLiteral("tooltip.png"))))
            ++failures;
    } else {
        ++failures;
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    ShotRig::prepareEnvironment();
    NotchPanel::selectDefaultGraphicsApi();
    QGuiApplication app(argc, argv);
    const bool frames = argc > 1 && qstrcmp(argv[1], "--frames") == 0;
    if (frames) {
        --argc;
        ++argv;
    }
    QDir out;
    if (!ShotRig::outputDir(argc, argv, out))
        return 1;

    ShotRig rig;
    if (!rig.loadLogos({"AAPL", "NVDA", "MSFT", "TSLA", "ES=F", "CL=F"}))
        std::fprintf(stderr, "logos did not arrive; placeholders are shown\n");
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    const QVariantMap views{{"appState", QVariant::fromValue<QObject*>(&rig.state())},
                            {"prefs", QVariant::fromValue<QObject*>(&rig.prefs())}};
    NotchController notch(
        NotchHoverOption::all, NotchStyle::notch(),
        AppDelegate::contentBuilder(&engine, NotchSection::expanded, views),
        AppDelegate::contentBuilder(&engine, NotchSection::compactLeading, views),
        AppDelegate::contentBuilder(&engine, NotchSection::compactTrailing, views), &engine);
    QScreen* screen = QGuiApplication::primaryScreen();

    const auto atAfternoon = [&] {
        rig.clock().setNow(ShotRig::afternoon);
        rig.state().updateSession();
    };
    atAfternoon();
    const QList<Stock> day = ShotRig::afternoonDay().all();
    if (frames)
        return framesOfTransitions(out, rig, notch, screen, day) == 0 ? 0 : 1;
    rig.useDayAlerts();
    // NVDA (the second) still spiking once the views have settled.
    const auto spikingNvda = [&] {
        QList<Stock> stocks = day;
        stocks[1].lastSpikeAt = rig.clock().now() + 1;
        return stocks;
    };

    int failures = 0;
    const auto shoot = [&](const char* name, bool expanded, const std::function<void()>& setUp) {
        setUp();
        if (expanded)
            notch.expand(screen);
        else
            notch.compact(screen);
        const bool settled = QTest::qWaitFor(
            [&] { return expanded ? notch.isExpanded() : notch.isCompact(); }, 5000);
        if (!settled)
            std::fprintf(stderr, "%s: the notch did not settle\n", name);
        // The pointer rests on an open card.
        notch.updateHoverState(expanded);
        // Slides, flashes and pulses run on the rig's clock; the notch's spring in real time.
        QTest::qWait(50);
        rig.clock().advance(2.5);
        QTest::qWait(900);
        NotchPanel* panel = findPanel();
        const QImage image = panel ? cropToNotch(panel) : QImage();
        const QString path = out.filePath(QStringLiteral("%1.png").arg(name));
        if (image.isNull() || !image.save(path)) {
            std::fprintf(stderr, "%s: no picture\n", name);
            ++failures;
            return;
        }
        std::printf("%s\n", qPrintable(path));
    };
    const auto mode = [&](DisplayMode m) { rig.prefs().setDisplayMode(m); };

    shoot("compact-regular", false, [&] {
        mode(DisplayMode::regular);
        rig.show(day, "AAPL");
    });
    shoot("compact-down", false, [&] { rig.show(day, "NVDA"); });
    shoot("compact-compact", false, [&] { mode(DisplayMode::compact); });
    shoot("compact-logo", false, [&] { mode(DisplayMode::compactLogo); });
    shoot("compact-do-not-disturb", false, [&] { mode(DisplayMode::doNotDisturb); });
    shoot("compact-empty", false, [&] {
        mode(DisplayMode::regular);
        rig.show({}, std::nullopt);
    });
    shoot("compact-spiking", false, [&] {
        atAfternoon();
        rig.show(spikingNvda(), "NVDA");
    });
    shoot("compact-futures", false, [&] {
        rig.setAfterHours(true);
        rig.show(ShotRig::futuresDay(rig.clock().now()), "ES=F");
    });

    shoot("expanded-portfolio", true, [&] {
        atAfternoon();
        rig.prefs().setHoldings({Holding{"AAPL", 40}, Holding{"MSFT", 12}});
        rig.show(day, "AAPL");
    });
    shoot("expanded-alert", true, [&] {
        atAfternoon();
        rig.show(day, "AAPL");
        rig.fireCrossAbove(QStringLiteral("AAPL"), 188);
    });
    shoot("expanded-no-portfolio", true, [&] {
        atAfternoon();
        rig.prefs().setHoldings({});
        rig.show(spikingNvda(), "NVDA");
    });
    shoot("expanded-futures", true, [&] {
        rig.setAfterHours(true);
        rig.show(ShotRig::futuresDay(rig.clock().now()), "ES=F");
    });
    shoot("expanded-empty", true, [&] {
        rig.setAfterHours(false);
        rig.show({}, std::nullopt);
    });
    return failures == 0 ? 0 : 1;
}
