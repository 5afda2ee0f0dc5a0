// How the compact views draw: a rolling character's glyphs, the cells that move and what a frame
// repaints, the frame rate of each kind of motion, and the still line against plain text items.

#include "clock/manualclock.h"
#include "notch/colorfade.h"
#include "notch/glowitems.h"
#include "notch/motion.h"
#include "notch/notchformat.h"
#include "notch/rollingtext.h"
#include "notch/tickerflash.h"
#include "notchlayer/blur.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

constexpr double t0 = 1'700'000'000.0;
constexpr double rollTime = 0.35;

QList<bool> rollingAt(const RollingLine& line, double now) {
    QList<bool> out;
    for (qsizetype i = 0; i < line.cells().size(); ++i)
        out.append(line.isRolling(i, now));
    return out;
}

QList<bool> mask(const char* bits) {
    QList<bool> out;
    for (const char* c = bits; *c; ++c)
        out.append(*c == '1');
    return out;
}

void row(const char* name, const char* from, const char* to, const char* rolling, int left = -1,
         int right = -1, double duration = rollTime) {
    QTest::newRow(name) << QString(from) << QString(to) << duration << QString(rolling) << left
                        << right;
}

QFont priceFont(int pixelSize = 12, int weight = 400) {
    QFont font(roundedFontFamily());
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Weight(weight));
    return font;
}

} // namespace

class TestNotchDrawing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A glow's silhouette is filled a character and a few rows at a time; the picture must be
    // that of the whole line filled at once, at the compact sizes, at twice them, and longer.
    void aGlowsSilhouetteIsThatOfTheWholeLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("weight");
        QTest::addColumn<double>("radius");
        QTest::newRow("price") << "$187.42" << 12 << 400 << 5.0;
        QTest::newRow("percent") << "+1.23%" << 13 << 500 << 5.0;
        QTest::newRow("spiking percent") << "-12.34%" << 13 << 700 << 3.0;
        QTest::newRow("twice the size") << "$12,345.67" << 26 << 600 << 10.0;
        QTest::newRow("tall") << "+123.45%" << 40 << 700 << 0.0;
    }
    void aGlowsSilhouetteIsThatOfTheWholeLine() {
        QFETCH(QString, text);
        QFETCH(int, pixelSize);
        QFETCH(int, weight);
        QFETCH(double, radius);
        const QFont font = priceFont(pixelSize, weight);
        const QImage glow = TextGlow::silhouette(text, font, radius);

        const int margin = glowMargin(radius);
        QImage whole(glow.size(), QImage::Format_Alpha8);
        whole.fill(0);
        {
            QPainter p(&whole);
            p.setRenderHint(QPainter::Antialiasing);
            p.fillPath(
                tabularTextPath(text, font, QPointF(margin, margin + QFontMetricsF(font).ascent())),
                Qt::black);
        }
        blurAlpha(whole, radius / 2);
        QCOMPARE(glow, whole);
        // Not an empty picture on both sides.
        QVERIFY(std::any_of(glow.constBits(), glow.constBits() + glow.sizeInBytes(),
                            [](uchar a) { return a > 20; }));
    }

    void aRollMovesTheOldGlyphUpAndTheNewOneIntoPlace_data() {
        QTest::addColumn<double>("progress");
        QTest::addColumn<QList<double>>("step"); // old glyph's y, opacity; new glyph's y, opacity
        // A line 16 tall: the old glyph leaves half a line upwards, the new one rises from half
        // a line below. Outside 0…1 the roll stands at its ends.
        QTest::newRow("start") << 0.0 << QList<double>{0, 1, 8, 0};
        QTest::newRow("middle") << 0.5 << QList<double>{-4, 0.5, 4, 0.5};
        QTest::newRow("end") << 1.0 << QList<double>{-8, 0, 0, 1};
        QTest::newRow("past") << 1.3 << QList<double>{-8, 0, 0, 1};
    }
    void aRollMovesTheOldGlyphUpAndTheNewOneIntoPlace() {
        QFETCH(double, progress);
        QFETCH(QList<double>, step);
        const RollStep r = rollStep(progress, 16);
        QCOMPARE((QList<double>{r.previousY, r.previousOpacity, r.currentY, r.currentOpacity}),
                 step);
    }

    void changedCellsRollAndTheRestStandStill_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("rolling");
        // What a frame repaints: from the first moving cell to one past the last, the cells
        // between included.
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        row("cents", "$187.42", "$187.91", "0000011", 5, 7);
        row("one digit", "$187.42", "$197.42", "0010000", 2, 3);
        row("far apart", "$187.42", "$287.49", "0100001", 1, 7);
        row("sign", "+1.20%", "-1.20%", "100000", 0, 1);
        row("same", "$187.42", "$187.42", "0000000");
        // A change of length lays the line anew; so does the first text.
        row("longer", "$99.99", "$100.00", "0000000");
        row("first", "", "$1.00", "00000");
        row("no duration", "$187.42", "$187.91", "0000000", -1, -1, 0.0);
    }
    void changedCellsRollAndTheRestStandStill() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(double, duration);
        RollingLine line;
        line.setText(from, t0, duration);
        line.setText(to, t0 + 1, duration);
        QFETCH(QString, rolling);
        QCOMPARE(rollingAt(line, t0 + 1), mask(qPrintable(rolling)));
        for (qsizetype i = 0; i < to.size(); ++i)
            QCOMPARE(line.cells().at(i).shown, to.at(i));

        const QList<qreal> positions = tabularPositions(to, priceFont());
        const QRectF span = rollingSpan(positions, rollingAt(line, t0 + 1), 16);
        QFETCH(int, left);
        QFETCH(int, right);
        QCOMPARE(span, left < 0 ? QRectF()
                                : QRectF(QPointF(positions.at(left), 0),
                                         QPointF(positions.at(right), 16)));
    }

    void aRollEasesEndsOnTimeAndStartsOverFromWhatACellShowed() {
        RollingLine line;
        line.setText(QStringLiteral("$1.00"), t0, rollTime);
        line.setText(QStringLiteral("$1.05"), t0 + 1, rollTime);
        const double start = t0 + 1;
        QCOMPARE(line.progress(4, start), 0.0);
        QVERIFY(line.progress(4, start + 0.1 * rollTime) < 0.1); // slow off the mark
        QVERIFY(qAbs(line.progress(4, start + rollTime / 2) - 0.5) < 1e-6);
        QVERIFY(line.progress(4, start + 0.9 * rollTime) > 0.9); // and slow into place
        QCOMPARE(line.progress(3, start + rollTime / 2), 1.0);   // the still cell
        // The roll is over at exactly its duration, not a moment before.
        QVERIFY(line.isMovingAt(start + rollTime - 0.001));
        QVERIFY(!line.isMovingAt(start + rollTime));
        QVERIFY(!line.settle(start + rollTime - 0.001));
        QVERIFY(line.settle(start + rollTime));

        // Changed again mid-roll: the cell rolls anew from the character it showed.
        line.setText(QStringLiteral("$1.07"), t0 + 2, rollTime);
        line.setText(QStringLiteral("$1.09"), t0 + 2.2, rollTime);
        QCOMPARE(line.cells().at(4).previous, QLatin1Char('7'));
        QVERIFY(line.isMovingAt(t0 + 2.2 + rollTime - 0.001));
        // Going back to a text of the same characters before it ended is a change too.
        line.setText(QStringLiteral("$1.07"), t0 + 2.3, rollTime);
        QCOMPARE(line.cells().at(3).previous, QLatin1Char('0'));
        QCOMPARE(line.cells().at(4).previous, QLatin1Char('9'));
    }

    void theItemRollsOnItsClockAndStopsTicking() {
        ManualClock clock(t0);
        RollingText text(&clock, nullptr);
        text.setFont(priceFont());
        text.setText(QStringLiteral("$187.42"));
        const qreal width = text.implicitWidth();

        text.setText(QStringLiteral("$187.91"));
        QVERIFY(text.isRolling());
        // Tabular figures: the width holds through the change.
        QCOMPARE(text.implicitWidth(), width);
        const QList<qreal> positions = tabularPositions(text.text(), text.font());
        const QRectF repainted = text.rollingRect();
        QVERIFY(repainted.contains(
            QRectF(QPointF(positions.at(5), 0), QPointF(positions.at(7), text.implicitHeight()))));
        QVERIFY(repainted.left() > positions.at(4)); // the dollars stand
        QCOMPARE(repainted.right(), width);          // never past the line

        clock.advance(rollTime - 0.001);
        QVERIFY(text.isRolling());
        clock.advance(0.1); // the last frame lands on the end, then nothing ticks
        QVERIFY(!text.isRolling());
        QVERIFY(text.rollingRect().isEmpty());
        QCOMPARE(clock.pendingCount(), 0);

        // Hidden, a change stands at once, even over a roll still running; shown, it rolls.
        text.setText(QStringLiteral("$187.42"));
        QVERIFY(text.isRolling());
        text.setVisible(false);
        text.setText(QStringLiteral("$190.00"));
        QCOMPARE(text.line().progress(5, clock.now()), 1.0);
        QVERIFY(text.rollingRect().isEmpty());
        clock.advance(0.1);
        QVERIFY(!text.isRolling());
        QCOMPARE(clock.pendingCount(), 0);
        text.setVisible(true);
        text.setText(QStringLiteral("$190.01"));
        QVERIFY(text.isRolling());
    }

    void eachKindOfMotionGetsAFrameRateThatFitsIt_data() {
        QTest::addColumn<MotionKind>("kind");
        QTest::addColumn<double>("period");
        QTest::newRow("travel") << MotionKind::travel << FrameTimer::period;
        QTest::newRow("swell") << MotionKind::swell << 1.0 / 30;
        QTest::newRow("fade") << MotionKind::fade << 1.0 / 20;
    }
    void eachKindOfMotionGetsAFrameRateThatFitsIt() {
        QFETCH(MotionKind, kind);
        QFETCH(double, period);
        QCOMPARE(framePeriod(kind), period);

        // A second of motion on virtual time: one frame a period, the last one on the end, and
        // no timer left once it is over.
        ManualClock clock(t0);
        QObject context;
        int frames = 0;
        const double end = t0 + 1;
        FrameTicker ticker(
            &context, kind, [&] { ++frames; }, [&] { return clock.now() < end; });
        ticker.start(&clock);
        clock.advance(period * 0.999);
        QCOMPARE(frames, 0);
        clock.advance(period * 0.002);
        QCOMPARE(frames, 1);
        clock.advanceTo(end + 1);
        const int expected = static_cast<int>(std::ceil(1 / period - 1e-9));
        QVERIFY2(frames >= expected && frames <= expected + 1, qPrintable(QString::number(frames)));
        QVERIFY(!ticker.isRunning());
        QCOMPARE(clock.pendingCount(), 0);
    }

    void aFlashIsDrawnAtThirtyFramesASecondAndThenNothingTicks() {
        ManualClock clock(t0);
        TickerFlash flash(&clock, nullptr);
        flash.setValue(100);
        flash.setValue(101);
        int frames = 0;
        connect(&flash, &TickerFlash::frame, this, [&] { ++frames; });
        const double span = TickerFlash::riseTime + TickerFlash::fallTime;
        clock.advance(span + 0.1);
        QVERIFY2(frames >= std::floor(span * 30) && frames <= std::ceil(span * 30) + 2,
                 qPrintable(QString::number(frames)));
        QCOMPARE((QList<double>{flash.scale(), flash.glow()}), (QList<double>{1, 0}));
        QCOMPARE(clock.pendingCount(), 0);
    }

    // A colour fade: the first colour at once, then each change over 350 ms at twenty frames a
    // second; a change mid-way fades on from the colour shown, and off screen it jumps.
    void aColourFadesAtTwentyFramesASecond() {
        ManualClock clock(t0);
        ColorFade fade(&clock, nullptr);
        const QColor red(255, 0, 0), blue(0, 0, 255), green(0, 128, 0);
        fade.setTarget(red);
        QCOMPARE(fade.color(), red);
        QCOMPARE(clock.pendingCount(), 0);

        QList<QColor> shown;
        connect(&fade, &ColorFade::colorChanged, this, [&] { shown.append(fade.color()); });
        fade.setTarget(blue);
        QCOMPARE(fade.color(), red);
        clock.advance(0.175);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(fade.color(), ColorFade::colorAt(red, blue, 0.15 / 0.35)); // the frame at 0.15 s
        QVERIFY(fade.color() != red && fade.color() != blue);
        clock.advance(0.175);
        QCOMPARE(fade.color(), blue);
        QCOMPARE(shown.size(), 7);
        QCOMPARE(clock.pendingCount(), 0);

        fade.setTarget(red);
        clock.advance(0.1);
        const QColor between = fade.color();
        fade.setTarget(green);
        clock.advance(0.05);
        QCOMPARE(fade.color(), ColorFade::colorAt(between, green, 0.05 / 0.35));
        clock.advance(0.35);
        QCOMPARE(fade.color(), green);

        fade.setEnabled(false);
        fade.setTarget(blue);
        QCOMPARE(fade.color(), blue);
        QCOMPARE(clock.pendingCount(), 0);
    }

    void theStillLineLooksLikePlainTextItems_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QFont>("font");
        QTest::newRow("price") << "$187.42" << priceFont();
        QTest::newRow("percent") << "+1.50%" << priceFont(13, 500);
        QTest::newRow("spiking") << "-12.07%" << priceFont(13, 600);
        QTest::newRow("card") << "$4,783.25" << priceFont(26, 600);
    }
    void theStillLineLooksLikePlainTextItems() {
        QFETCH(QString, text);
        QFETCH(QFont, font);
        // The way the line was drawn before it was one item: a text item per character, each
        // digit centred in its tabular cell, at a fractional position inside the window.
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData(R"(
            import QtQuick
            import Velline.Notch
            Rectangle {
                id: root
                property string text; property font font
                property string lineText; property font lineFont
                width: 200; height: 80; color: "#101010"
                FontMetrics { id: metrics; font: root.font }
                Row {
                    x: 10.3; y: 5
                    Repeater { model: root.text.length; Item {
                        required property int index
                        readonly property string c: root.text.charAt(index)
                        readonly property bool figure: c >= "0" && c <= "9"
                        width: figure ? NotchFormat.figureWidth(root.font) : metrics.advanceWidth(c)
                        height: metrics.height
                        Text {
                            x: parent.figure ? (parent.width - metrics.advanceWidth(parent.c)) / 2 : 0
                            text: parent.c; font: root.font; color: "#e0e0e0"
                        }
                    } }
                }
                RollingText {
                    x: 10.3; y: 40; duration: 0
                    text: root.lineText; font: root.lineFont; color: "#e0e0e0"
                }
            })",
                          QUrl());
        // The line first draws other digits in another font: what it laid out for those must
        // not show once it has the text and font it is compared in.
        QString otherText = text;
        for (QChar& c : otherText)
            c = c.isDigit() ? QChar(u'0' + (c.digitValue() + 3) % 10) : c;
        const QFont otherFont = priceFont(font.pixelSize() + 5, font.weight());
        std::unique_ptr<QObject> root(component.createWithInitialProperties(
            {{"text", text}, {"font", font}, {"lineText", otherText}, {"lineFont", otherFont}}));
        QVERIFY2(root, qPrintable(component.errorString()));
        QQuickWindow window;
        window.resize(200, 80);
        auto* item = qobject_cast<QQuickItem*>(root.get());
        item->setParentItem(window.contentItem());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.grabWindow().isNull());
        root->setProperty("lineText", text);
        root->setProperty("lineFont", font);
        const QImage shot = window.grabWindow();
        const qreal scale = shot.width() / 200.0;
        const int rowHeight = static_cast<int>(std::ceil(35 * scale));
        const QImage before = shot.copy(0, 0, shot.width(), rowHeight);
        const QImage after = shot.copy(0, static_cast<int>(35 * scale), shot.width(), rowHeight);
        QCOMPARE(after, before);
        QImage blank = before;
        blank.fill(shot.pixel(0, 0));
        QVERIFY(before != blank); // something was drawn at all
    }
};

QTEST_MAIN(TestNotchDrawing)
#include "tst_notchdrawing.moc"
