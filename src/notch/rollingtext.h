#pragma once

#include "clock/clock.h"
#include "notch/motion.h"

#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QQuickItem>
#include <QRectF>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// Where the two characters of a rolling cell stand at `progress` (0 → 1, eased) of the roll, in
// a line `lineHeight` tall: the old one rises half a line and fades out, the new one rises from
// half a line below into place and fades in.
struct RollStep {
    double previousY;
    double previousOpacity;
    double currentY;
    double currentOpacity;
};
RollStep rollStep(double progress, double lineHeight);

// The characters of a rolling line and which of them roll, as a function of time. A new text of
// the same length starts a roll in each cell whose character changed (a cell already rolling
// starts again from the character it showed); a text of another length is laid anew, still.
// Rolls take `duration` seconds on the ease-in-out curve; a duration of 0 never rolls.
class RollingLine {
public:
    struct Cell {
        QChar shown;
        QChar previous;
        double start = 0;
        bool rolling = false;
    };

    void setText(const QString& text, double now, double duration);
    QString text() const { return m_text; }
    const QList<Cell>& cells() const { return m_cells; }
    double duration() const { return m_duration; }

    // Eased progress 0 → 1 of cell `index`'s roll at `now`; 1 for a cell standing still.
    double progress(qsizetype index, double now) const;
    bool isRolling(qsizetype index, double now) const { return progress(index, now) < 1; }
    bool isMovingAt(double now) const;
    // Ends the rolls that are over by `now`; true when any did.
    bool settle(double now);

private:
    QString m_text;
    QList<Cell> m_cells;
    double m_duration = 0;
};

// The span of a line that changes while some of its cells roll: from the left edge of the first
// rolling cell to the right edge of the last, the full `height` tall, given the cells' left
// edges and the line's width (tabularPositions). Empty when nothing rolls.
QRectF rollingSpan(const QList<qreal>& positions, const QList<bool>& rolling, qreal height);

// Text whose changed characters roll (see RollingLine), inside its line: nothing shows above or
// below it. Digits are tabular: each is centred in a cell as wide as the widest digit, so the
// number keeps its width as it changes (TextGlow lays out the same way).
//   RollingText { text: model.priceText; font.pixelSize: 12; color: "white" }
// One item draws the whole line; the characters' glyphs are laid out once per font and drawn
// with the scene graph's painter. The cells standing still and the cells rolling are two
// separate drawings, so a frame of a roll repaints only the span that moves. The roll runs on
// the real clock's animation frames unless a test hands in another clock. A text set while the
// item is hidden stands at once: a view shown again, or built earlier and bound to other data,
// never rolls into what it shows.
class RollingText : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY fontChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    // Milliseconds a roll takes; 0 changes characters without rolling.
    Q_PROPERTY(int duration READ duration WRITE setDuration NOTIFY durationChanged)
    // The cell of a digit.
    Q_PROPERTY(qreal figureWidth READ figureWidth NOTIFY fontChanged)

public:
    explicit RollingText(QQuickItem* parent = nullptr);
    RollingText(Clock* clock, QQuickItem* parent);
    ~RollingText() override;

    QString text() const { return m_line.text(); }
    void setText(const QString& text);
    QFont font() const { return m_font; }
    void setFont(const QFont& font);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    int duration() const { return m_duration; }
    void setDuration(int ms);
    qreal figureWidth() const { return m_figureWidth; }

    const RollingLine& line() const { return m_line; }
    // What a frame of the roll repaints now (item coordinates); empty while the line stands.
    QRectF rollingRect() const;
    bool isRolling() const { return m_ticker.isRunning(); }

Q_SIGNALS:
    void textChanged();
    void fontChanged();
    void colorChanged();
    void durationChanged();

protected:
    QSGNode* updatePaintNode(QSGNode* node, UpdatePaintNodeData*) override;

private:
    // A cell's two characters ready to draw: their glyphs and where each stands across the line.
    struct CellGlyphs {
        QList<QGlyphRun> shown;
        qreal shownX = 0;
        QList<QGlyphRun> previous;
        qreal previousX = 0;
    };

    void refont();
    void relayout();
    void layOutCellGlyphs();
    QRectF paddedSpan(const QList<bool>& rolling) const;
    QList<QGlyphRun> glyphs(QChar c);
    qreal advance(QChar c);
    qreal inset(QChar c);

    Clock* m_clock;
    RollingLine m_line;
    QFont m_font;
    QColor m_color = Qt::white;
    int m_duration = 350;
    qreal m_figureWidth = 0;
    qreal m_lineHeight = 0;
    QList<qreal> m_positions;
    // Per character of the font in use.
    QHash<QChar, QList<QGlyphRun>> m_glyphs;
    QHash<QChar, qreal> m_advances;
    // Per cell of the text: laid out when the text or the font changes, kept between frames.
    QList<CellGlyphs> m_cellGlyphs;
    bool m_cellGlyphsStale = true;
    // Which cells the last frame drew rolling.
    QList<bool> m_rollingCells;
    FrameTicker m_ticker;
    // The still cells need drawing again (text, font or colour changed, or a roll ended).
    bool m_stillDirty = true;
};

} // namespace velline
