// The program's notch views in the real notch window on a private X server, on a private watch
// state with virtual time (the animations too): each display mode gives the same shape whether
// it was there at start or chosen while running, and the symbol images come out in their own
// colours, legibly.
#include "app/appdelegate.h"
#include "notch/symbolimage.h"
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchpanel.h"
#include "shotrig.h"

#include <QAnimationDriver>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>
#include <QtTest>

#include <memory>

using namespace velline;
using namespace velline::notchshot;
using namespace Qt::StringLiterals;

namespace {

NotchPanel* visiblePanel() {
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (auto* panel = qobject_cast<NotchPanel*>(window); panel && panel->isVisible())
            return panel;
    return nullptr;
}

// Steps every animation of the process (the springs, the fades) on virtual time.
struct AnimationTime : QAnimationDriver {
    qint64 m_ms = 0;
    qint64 elapsed() const override { return m_ms; }
    void run(int ms) {
        for (const qint64 end = m_ms + ms; m_ms < end;) {
            m_ms += 16;
            advance();
        }
    }
};

struct Peak {
    QRgb color = 0;
    QRect rows;        // bounding box of the lit pixels
    QList<int> widths; // lit pixels on each row of that box
    QString name;      // of the symbol drawn
    bool ownColour = false;
};

// The brightest pixel of `rect` in `image`, and where pixels at least half as bright lie.
Peak peakOf(const QImage& image, const QRect& rect) {
    Peak peak;
    const QRect r = rect.intersected(image.rect());
    const auto sum = [&](int x, int y) {
        const QRgb c = image.pixel(x, y);
        return qRed(c) + qGreen(c) + qBlue(c);
    };
    int best = -1;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (sum(x, y) > best)
                best = sum(x, y), peak.color = image.pixel(x, y);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        int lit = 0;
        for (int x = r.left(); x <= r.right(); ++x)
            if (2 * sum(x, y) >= best)
                ++lit, peak.rows |= QRect(x, y, 1, 1);
        if (lit > 0)
            peak.widths << lit;
    }
    return peak;
}

// Whether `drawn` is the colour a translucent `c` takes on the black notch.
bool onBlack(QRgb drawn, const QColor& c) {
    const double a = c.alphaF();
    return std::max({std::abs(qRed(drawn) - qRound(c.red() * a)),
                     std::abs(qGreen(drawn) - qRound(c.green() * a)),
                     std::abs(qBlue(drawn) - qRound(c.blue() * a))}) <= 4;
}

// The visible arrows under `item` as `frame` shows them, each peaking at exactly its colour on
// the black notch or not. Through the visual tree: a Repeater's items are not the QObject
// children of the row they stand in.
void collectArrows(QQuickItem* item, const QImage& frame, QList<Peak>& peaks) {
    auto* icon = qobject_cast<SymbolImage*>(item);
    if (icon && icon->isVisible() && icon->name().startsWith("arrow"_L1)) {
        Peak& peak =
            peaks.emplace_back(peakOf(frame, icon->mapRectToScene(icon->boundingRect()).toRect()));
        peak.name = icon->name();
        peak.ownColour = onBlack(peak.color, icon->color());
        if (!peak.ownColour)
            qWarning() << peak.name << "drawn in" << QColor(peak.color).name();
    }
    for (QQuickItem* child : item->childItems())
        collectArrows(child, frame, peaks);
}

QList<Peak> drawnArrows(QQuickItem* root) {
    QList<Peak> peaks;
    const QImage frame = visiblePanel()->grabWindow();
    if (frame.size() == visiblePanel()->size()) // one device pixel per point
        collectArrows(root, frame, peaks);
    return peaks;
}

} // namespace

class TestNotchViews : public QObject {
    Q_OBJECT

    std::unique_ptr<ShotRig> rig;
    QQmlEngine engine;
    QList<Stock> day;

    AnimationTime animations;

    std::unique_ptr<NotchController> makeNotch() {
        const QVariantMap views{{"appState", QVariant::fromValue<QObject*>(&rig->state())},
                                {"prefs", QVariant::fromValue<QObject*>(&rig->prefs())}};
        return std::make_unique<NotchController>(
            NotchHoverOption::all, NotchStyle::notch(),
            AppDelegate::contentBuilder(&engine, NotchSection::expanded, views),
            AppDelegate::contentBuilder(&engine, NotchSection::compactLeading, views),
            AppDelegate::contentBuilder(&engine, NotchSection::compactTrailing, views), &engine,
            &rig->clock());
    }

    // The notch's shape once everything has come to rest: the transitions, slides and flashes
    // on the rig's clock, the springs on virtual animation time, the layouts on the event loop.
    QRect settledShape() {
        QRect last;
        for (int i = 0, same = 0; i < 30; ++i) {
            QTest::qWait(20); // a frame: the layouts are polished when the window is drawn
            rig->clock().advance(i < 2 ? 2.5 : 0.1);
            animations.run(3000);
            NotchPanel* panel = visiblePanel();
            const QRect now = panel ? panel->inputRegion().boundingRect() : QRect();
            same = now == last ? same + 1 : 0;
            if (i > 1 && same >= 3 && !now.isEmpty())
                return now;
            last = now;
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase() {
        animations.install();
        rig = std::make_unique<ShotRig>();
        engine.addImportPath(u"qrc:/qt/qml"_s);
        QVERIFY(rig->loadLogos({"AAPL", "NVDA", "MSFT"}));
        rig->clock().setNow(ShotRig::afternoon);
        rig->state().updateSession();
        day = {ShotRig::daySeries("AAPL", 189.84, 185.10, ShotRig::afternoon, 40, 2.4, 0.42),
               ShotRig::daySeries("NVDA", 884.20, 912.80, ShotRig::afternoon, 22, 3.4, -1.15),
               ShotRig::daySeries("MSFT", 421.07, 421.0, ShotRig::afternoon, -1, 1.0, 0.01)};
        rig->show(day, "AAPL");
    }

    void everyDisplayModeHasOneShapeWhenStartedOrChosenWhileRunning() {
        QScreen* screen = QGuiApplication::primaryScreen();
        using M = DisplayMode;
        const QList<M> modes{M::regular, M::compact, M::compactLogo, M::doNotDisturb};
        QHash<int, QRect> atStart;
        for (M mode : modes) {
            rig->prefs().setDisplayMode(mode);
            auto notch = makeNotch();
            notch->compact(screen);
            atStart.insert(int(mode), settledShape());
            QVERIFY(notch->isCompact() && !atStart.value(int(mode)).isEmpty());
        }
        // Do not disturb closes the notch down to its gap and two bare insets.
        const QRect quiet = atStart.value(int(M::doNotDisturb));
        for (M mode : {M::regular, M::compact, M::compactLogo})
            QVERIFY(atStart.value(int(mode)).width() > quiet.width() + 20);
        QVERIFY2(quiet.width() <= 330, qPrintable(QString::number(quiet.width())));

        // One notch through every change of mode, each way.
        rig->prefs().setDisplayMode(M::regular);
        auto notch = makeNotch();
        notch->compact(screen);
        const QList<M> route{M::compact,      M::doNotDisturb, M::regular,     M::compactLogo,
                             M::doNotDisturb, M::compact,      M::compactLogo, M::regular,
                             M::doNotDisturb, M::compactLogo,  M::compact,     M::regular};
        for (M mode : route) {
            rig->prefs().setDisplayMode(mode);
            const QRect shape = settledShape();
            if (shape != atStart.value(int(mode)))
                qWarning() << "after the change to mode" << int(mode);
            QCOMPARE(shape, atStart.value(int(mode)));
        }
    }

    void symbolImagesShowTheirColourOnceAndSmallArrowsStayLegible() {
        QScreen* screen = QGuiApplication::primaryScreen();
        rig->prefs().setDisplayMode(DisplayMode::regular);
        rig->prefs().setPriceAlerts({ShotRig::alert("AAPL", 180, PriceAlert::Direction::below),
                                     ShotRig::alert("AAPL", 188, PriceAlert::Direction::above)});
        rig->show(day, "AAPL");
        auto notch = makeNotch();
        notch->expand(screen);
        QVERIFY(!settledShape().isEmpty() && notch->isExpanded());
        const auto ownColour = [](const Peak& peak) { return peak.ownColour; };

        // On the card: the move arrow, the volume arrow, the two alert chips.
        const QList<Peak> card = drawnArrows(notch->expandedContent());
        QCOMPARE(card.size(), 4);
        QVERIFY(std::all_of(card.begin(), card.end(), ownColour));

        // Compact: the move arrow beside the price, eight points high, at one device pixel per
        // point: a head clearly wider than its shaft, the shaft in its full colour.
        rig->show(day, "NVDA");
        notch->compact(screen);
        QVERIFY(!settledShape().isEmpty() && notch->isCompact());
        const QList<Peak> compact = drawnArrows(notch->compactTrailingContent());
        QCOMPARE(compact.size(), 1);
        const Peak& peak = compact.first();
        QVERIFY(ownColour(peak));
        QCOMPARE(peak.name, u"arrow.down"_s);
        QVERIFY2(peak.rows.height() >= 6 && peak.rows.height() <= 9,
                 qPrintable(QString::number(peak.rows.height())));
        const int shaft = *std::max_element(peak.widths.begin(), peak.widths.begin() + 2);
        const int head = *std::max_element(peak.widths.begin(), peak.widths.end());
        QVERIFY2(shaft <= 2 && head >= shaft + 3,
                 qPrintable(u"shaft %1, head %2"_s.arg(shaft).arg(head)));
        // Pointing down: the widest rows are at the bottom.
        QVERIFY(peak.widths.indexOf(head) >= peak.widths.size() / 2);
    }
};

int main(int argc, char** argv) {
    NotchPanel::selectDefaultGraphicsApi();
    QGuiApplication app(argc, argv);
    TestNotchViews test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchviews.moc"
