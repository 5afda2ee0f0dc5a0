#include "notch/notchformat.h"

#include "notch/compactrules.h"
#include "notch/notchtheme.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJSEngine>

#include <algorithm>
#include <cmath>

namespace velline {

const QList<SymbolGlyph>& symbolGlyphs() {
    // Material Icons code points (the font's ligature names in the comments).
    static const QList<SymbolGlyph> table{
        {QStringLiteral("arrow.up"), 0xE5D8},         // arrow_upward
        {QStringLiteral("arrow.down"), 0xE5DB},       // arrow_downward
        {QStringLiteral("arrow.up.right"), 0xF1E1},   // north_east
        {QStringLiteral("arrow.down.right"), 0xF1E4}, // south_east
        {QStringLiteral("chart.bar.fill"), 0xE26B},   // bar_chart
        {QStringLiteral("gearshape.fill"), 0xE8B8},   // settings
        {QStringLiteral("backward.fill"), 0xE020},    // fast_rewind
        {QStringLiteral("forward.fill"), 0xE01F},     // fast_forward
        {QStringLiteral("minus.circle.fill"), 0xE15C, 0xEF4A,
         0xE15B},                                              // remove_circle; circle, remove
        {QStringLiteral("chart.line.uptrend.xyaxis"), 0xE6E1}, // show_chart
        {QStringLiteral("magnifyingglass"), 0xE8B6},           // search
        {QStringLiteral("clock.arrow.circlepath"), 0xE889},    // history
        {QStringLiteral("return"), 0xE31B},                    // keyboard_return
        {QStringLiteral("paintpalette.fill"), 0xE40A},         // palette
        {QStringLiteral("briefcase.fill"), 0xE8F9},            // work
        {QStringLiteral("bell.badge.fill"), 0xE7F7},           // notifications_active
        {QStringLiteral("arrow.counterclockwise"), 0xE042},    // replay
        {QStringLiteral("arrow.uturn.backward"), 0xE166},      // undo
        {QStringLiteral("moon.zzz.fill"), 0xEF44},             // bedtime
    };
    return table;
}

namespace {

const SymbolGlyph* findSymbol(const QString& name) {
    for (const SymbolGlyph& s : symbolGlyphs()) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

QString glyphText(char32_t cp) {
    if (cp == 0)
        return {};
    return QString::fromUcs4(&cp, 1);
}

} // namespace

QString symbolGlyphText(const QString& name) {
    const SymbolGlyph* s = findSymbol(name);
    return s ? glyphText(s->glyph) : QString();
}

QString iconFontFamily() {
    return QStringLiteral("Material Icons");
}

const QStringList& systemFamilyCandidates() {
    static const QStringList candidates{QStringLiteral("Inter")};
    return candidates;
}

const QStringList& roundedFamilyCandidates() {
    static const QStringList candidates{
        QStringLiteral("Inter"),
        QStringLiteral("SF Pro Rounded"),
        QStringLiteral("Nunito"),
        QStringLiteral("Varela Round"),
        QStringLiteral("M PLUS Rounded 1c"),
        QStringLiteral("Rounded Mplus 1c"),
        QStringLiteral("Quicksand"),
    };
    return candidates;
}

QString pickFontFamily(const QStringList& installed, const QStringList& candidates,
                       const QString& fallback) {
    for (const QString& candidate : candidates) {
        for (const QString& family : installed) {
            if (family.compare(candidate, Qt::CaseInsensitive) == 0)
                return family;
        }
    }
    return fallback;
}

namespace {

QString installedFamily(const QStringList& candidates) {
    return pickFontFamily(QFontDatabase::families(), candidates,
                          QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

} // namespace

QString systemFontFamily() {
    static const QString family = installedFamily(systemFamilyCandidates());
    return family;
}

QString roundedFontFamily() {
    static const QString family = installedFamily(roundedFamilyCandidates());
    return family;
}

qreal figureWidth(const QFont& font) {
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    return widest;
}

QList<qreal> tabularPositions(const QString& text, const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal cell = figureWidth(font);
    QList<qreal> positions;
    positions.reserve(text.size() + 1);
    qreal x = 0;
    for (const QChar c : text) {
        positions.append(x);
        x += c.isDigit() ? cell : metrics.horizontalAdvance(c);
    }
    positions.append(x);
    return positions;
}

QList<QPainterPath> tabularCharacterPaths(const QString& text, const QFont& font,
                                          const QPointF& origin) {
    const QFontMetricsF metrics(font);
    const qreal cell = figureWidth(font);
    const QList<qreal> positions = tabularPositions(text, font);
    QList<QPainterPath> paths;
    paths.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const qreal inset = c.isDigit() ? (cell - metrics.horizontalAdvance(c)) / 2 : 0;
        QPainterPath path;
        path.addText(origin + QPointF(positions.at(i) + inset, 0), font, QString(c));
        paths.append(path);
    }
    return paths;
}

QPainterPath tabularTextPath(const QString& text, const QFont& font, const QPointF& origin) {
    QPainterPath path;
    for (const QPainterPath& character : tabularCharacterPaths(text, font, origin))
        path.addPath(character);
    return path;
}

QString priceText(double price) {
    return QStringLiteral("$") + QString::number(price, 'f', 2);
}

QColor directionColor(Stock::Direction direction, const NotchTheme& theme, bool isSpiking) {
    switch (direction) {
    case Stock::Direction::up:
        return toQColor(isSpiking ? theme.spikePositive : theme.mutedPositive);
    case Stock::Direction::down:
        return toQColor(isSpiking ? theme.spikeNegative : theme.mutedNegative);
    case Stock::Direction::flat:
        break;
    }
    return NotchPalette::textPrimary();
}

// ---- NotchFormat ----

NotchFormat::NotchFormat(QObject* parent)
    : QObject(parent), m_system(systemFontFamily()), m_rounded(roundedFontFamily()) {}

NotchFormat* NotchFormat::create(QQmlEngine*, QJSEngine*) {
    // One per engine, owned by it: the object holds nothing but constants.
    return new NotchFormat();
}

QString NotchFormat::glyph(const QString& name) const {
    return symbolGlyphText(name);
}

QString NotchFormat::backGlyph(const QString& name) const {
    const SymbolGlyph* s = findSymbol(name);
    return s ? glyphText(s->back) : QString();
}

QString NotchFormat::frontGlyph(const QString& name) const {
    const SymbolGlyph* s = findSymbol(name);
    return s ? glyphText(s->front) : QString();
}

double NotchFormat::symbolPixelSize(double points) {
    return points * 1.25;
}

NotchSpring carouselSpring() {
    return NotchSpring(0.38, 0.82);
}

int NotchFormat::carouselDuration() {
    return static_cast<int>(std::lround(carouselSpring().settleTime() * 1000));
}

QEasingCurve NotchFormat::carouselEasing() {
    return carouselSpring().easingCurve();
}

QString NotchFormat::placeholderText() {
    return compact::placeholderText;
}

QColor NotchFormat::leadingPlaceholderColor() {
    QColor c = NotchPalette::textPrimary();
    c.setAlphaF(c.alphaF() * 0.4f);
    return c;
}

QColor NotchFormat::trailingPlaceholderColor() {
    return QColor::fromRgbF(1, 1, 1, 0.3f);
}

bool NotchFormat::entersFromLeading(int swipeDirection) {
    return compact::entersFromLeading(static_cast<SwipeDirection>(swipeDirection));
}

QString NotchFormat::priceText(double price) {
    return velline::priceText(price);
}

QColor NotchFormat::directionColor(int direction, const NotchTheme& theme, bool isSpiking) {
    if (direction < 0 || direction > 2)
        return NotchPalette::textPrimary();
    return velline::directionColor(static_cast<Stock::Direction>(direction), theme, isSpiking);
}

} // namespace velline
