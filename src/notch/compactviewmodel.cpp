#include "notch/compactviewmodel.h"

#include "notch/notchclock.h"

#include "notch/notchformat.h"

namespace velline {

using compact::LeadingContent;
using compact::TrailingContent;

CompactViewModel::CompactViewModel(QObject* parent) : CompactViewModel(notchClock(), parent) {}

CompactViewModel::CompactViewModel(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_theme(NotchTheme::select(ColorSchemePrefs{}, false)) {}

QVariant CompactViewModel::stockValue() const {
    return m_stock ? QVariant::fromValue(*m_stock) : QVariant();
}

void CompactViewModel::setStockValue(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<Stock>())
        setStock(value.value<Stock>());
    else
        setStock(std::nullopt);
}

void CompactViewModel::setStock(const std::optional<Stock>& stock) {
    m_stock = stock;
    reevaluate();
}

void CompactViewModel::setTheme(const NotchTheme& theme) {
    if (theme == m_theme)
        return;
    m_theme = theme;
    Q_EMIT changed();
}

QString CompactViewModel::displayModeRaw() const {
    return rawValue(m_mode);
}

void CompactViewModel::setDisplayModeRaw(const QString& raw) {
    setDisplayMode(displayModeFromRawValue(raw).value_or(DisplayMode::regular));
}

void CompactViewModel::setDisplayMode(DisplayMode mode) {
    if (mode == m_mode)
        return;
    m_mode = mode;
    Q_EMIT changed();
}

void CompactViewModel::reevaluate() {
    m_spiking =
        m_spikeHold.follow(m_stock ? &*m_stock : nullptr, m_clock, this, [this] { reevaluate(); });
    Q_EMIT changed();
}

LeadingContent CompactViewModel::leadingContent() const {
    return compact::leadingContent(m_mode, hasStock());
}

TrailingContent CompactViewModel::trailingContent() const {
    return compact::trailingContent(m_mode, hasStock());
}

bool CompactViewModel::leadingHidden() const {
    return leadingContent() == LeadingContent::nothing;
}

bool CompactViewModel::showLogo() const {
    const LeadingContent c = leadingContent();
    return c == LeadingContent::logoAndTicker || c == LeadingContent::logo;
}

bool CompactViewModel::showTicker() const {
    const LeadingContent c = leadingContent();
    return c == LeadingContent::logoAndTicker || c == LeadingContent::ticker;
}

bool CompactViewModel::trailingHidden() const {
    return trailingContent() == TrailingContent::nothing;
}

bool CompactViewModel::showPrice() const {
    return trailingContent() == TrailingContent::full && compact::showsPrice(*m_stock);
}

QString CompactViewModel::priceText() const {
    return m_stock ? velline::priceText(m_stock->price) : QString();
}

bool CompactViewModel::showArrow() const {
    return trailingContent() == TrailingContent::full && compact::moveArrow(*m_stock).has_value();
}

QString CompactViewModel::arrowName() const {
    if (!m_stock)
        return {};
    return compact::moveArrow(*m_stock).value_or(QString());
}

QColor CompactViewModel::directionColor() const {
    if (!m_stock)
        return NotchPalette::textPrimary();
    return velline::directionColor(m_stock->direction(), m_theme, m_spiking);
}

QColor CompactViewModel::arrowColor() const {
    QColor c = directionColor();
    c.setAlphaF(c.alphaF() * 0.85f);
    return c;
}

bool CompactViewModel::showPercent() const {
    const TrailingContent c = trailingContent();
    return c == TrailingContent::full || c == TrailingContent::percentage;
}

QString CompactViewModel::percentText() const {
    return m_stock ? m_stock->percentText() : QString();
}

QColor CompactViewModel::percentGlowColor() const {
    if (!m_spiking)
        return Qt::transparent;
    QColor c = directionColor();
    c.setAlphaF(c.alphaF() * 0.35f);
    return c;
}

} // namespace velline
