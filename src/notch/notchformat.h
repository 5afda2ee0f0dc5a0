#pragma once

#include "market/stock.h"
#include "notch/notchtheme.h"
#include "notchlayer/notchanimation.h"

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QList>
#include <QObject>
#include <QPainterPath>
#include <QString>
#include <QStringList>
#include <QtQmlIntegration/qqmlintegration.h>

class QQmlEngine;
class QJSEngine;

namespace velline {

// One named symbol image, drawn from the icon font. A two-colour symbol also names the glyphs
// of its two layers, so the part drawn in the secondary colour (`back`) can sit under the part
// drawn in the primary colour (`front`).
struct SymbolGlyph {
    QString name;
    char32_t glyph = 0;
    char32_t back = 0;  // 0 when the symbol has a single colour
    char32_t front = 0; //
};

// Every symbol image the notch draws, by name.
const QList<SymbolGlyph>& symbolGlyphs();
// The glyph for `name` as text, or an empty string for a name not in the table.
QString symbolGlyphText(const QString& name);

// Family of the icon font the symbol images come from.
QString iconFontFamily();
// The first installed family of `candidates` (best first), compared without regard to case,
// else `fallback`.
QString pickFontFamily(const QStringList& installed, const QStringList& candidates,
                       const QString& fallback);
// The notch's text face, best first: Inter (a packaged UI face with real Medium and Semibold
// weights and tabular figures).
const QStringList& systemFamilyCandidates();
// The "rounded" design: no packaged rounded face has those weights, so the same face first,
// then rounded faces a machine may have.
const QStringList& roundedFamilyCandidates();
// The faces of this machine, or the desktop's general font where none is installed. Need a
// QGuiApplication.
QString systemFontFamily();
QString roundedFontFamily();

// Tabular figures: the numbers the notch shows are laid out a character at a time, each digit
// centred in a cell as wide as the widest digit of `font`, every other character at its own
// advance. So a changing number keeps its width, and its digits stand in columns.
qreal figureWidth(const QFont& font);
// Left edge of each character of `text` so laid out, and (last) the total width.
QList<qreal> tabularPositions(const QString& text, const QFont& font);
// `text` so laid out as a path, its baseline at `origin`.
QPainterPath tabularTextPath(const QString& text, const QFont& font, const QPointF& origin);
// The same, one path per character.
QList<QPainterPath> tabularCharacterPaths(const QString& text, const QFont& font,
                                          const QPointF& origin);

// "$%.2f": two decimals after a dollar sign, no grouping ($187.42, $0.50, $-3.10).
QString priceText(double price);

// The colour a direction is drawn in: up and down in the theme's muted colours, or its loud
// ones while the symbol is spiking; flat in the primary text colour.
QColor directionColor(Stock::Direction direction, const NotchTheme& theme, bool isSpiking);

// The spring every carousel step moves on: response 0.38 s, damping fraction 0.82.
NotchSpring carouselSpring();

// Display rules for QML: `NotchFormat.priceText(stock.price)`, `NotchFormat.glyph("arrow.up")`.
class NotchFormat : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString systemFontFamily READ systemFamily CONSTANT)
    Q_PROPERTY(QString roundedFontFamily READ roundedFamily CONSTANT)
    Q_PROPERTY(QString iconFontFamily READ iconFamily CONSTANT)
    // The em dash shown in place of a stock, and its colours on the two compact sides.
    Q_PROPERTY(QString placeholderText READ placeholderText CONSTANT)
    Q_PROPERTY(QColor leadingPlaceholderColor READ leadingPlaceholderColor CONSTANT)
    Q_PROPERTY(QColor trailingPlaceholderColor READ trailingPlaceholderColor CONSTANT)
    // carouselSpring (response 0.38 s, damping 0.82) as a duration in ms and an easing curve.
    Q_PROPERTY(int carouselDuration READ carouselDuration CONSTANT)
    Q_PROPERTY(QEasingCurve carouselEasing READ carouselEasing CONSTANT)

public:
    explicit NotchFormat(QObject* parent = nullptr);

    static NotchFormat* create(QQmlEngine*, QJSEngine*);

    QString systemFamily() const { return m_system; }
    QString roundedFamily() const { return m_rounded; }
    QString iconFamily() const { return iconFontFamily(); }

    // The glyph of a symbol image, and its two layers (empty for a single-colour symbol).
    Q_INVOKABLE QString glyph(const QString& name) const;
    Q_INVOKABLE QString backGlyph(const QString& name) const;
    Q_INVOKABLE QString frontGlyph(const QString& name) const;
    // Pixel size of the icon font that makes a symbol image match text of `points`: the icon
    // font's glyphs fill less of their box than letters do.
    Q_INVOKABLE static double symbolPixelSize(double points);

    static int carouselDuration();
    static QEasingCurve carouselEasing();
    static QString placeholderText();
    static QColor leadingPlaceholderColor();
    static QColor trailingPlaceholderColor();

    Q_INVOKABLE static QString priceText(double price);
    // The cell of a digit in tabular figures of `font`.
    Q_INVOKABLE static double figureWidth(const QFont& font) { return velline::figureWidth(font); }
    // Whether a carousel step in `swipeDirection` (a SwipeDirection) brings the new content
    // in from the leading edge.
    Q_INVOKABLE static bool entersFromLeading(int swipeDirection);
    // `direction` is a Stock.Direction (up 0, down 1, flat 2).
    Q_INVOKABLE static QColor directionColor(int direction, const velline::NotchTheme& theme,
                                             bool isSpiking);

private:
    QString m_system;
    QString m_rounded;
};

} // namespace velline
