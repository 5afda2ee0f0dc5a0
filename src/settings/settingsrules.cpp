#include "settings/settingsrules.h"

#include "market/stock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QDateTime>
#include <QRegularExpression>

#include <charconv>
#include <cmath>

namespace velline::settings {

std::optional<double> parsePositiveNumber(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    QByteArray ascii;
    ascii.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        ascii.append(char(c.unicode()));
    }
    const char* begin = ascii.constData();
    const char* const end = begin + ascii.size();
    // from_chars takes a minus sign but no plus sign; neither may be followed by another sign.
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin == '-' || *begin == '+')
            return std::nullopt;
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    // Out of range ("1e999") is refused like any other text that is not a usable number.
    if (error != std::errc() || stop != end)
        return std::nullopt;
    if (!std::isfinite(value) || !(value > 0))
        return std::nullopt;
    return value;
}

bool canAdd(const QString& symbol, const QString& numberText) {
    return isUsableNewSymbol(normalizeSymbol(symbol)) &&
           parsePositiveNumber(numberText).has_value();
}

QString shareCountText(double shares) {
    if (shares == std::round(shares))
        return QString::asprintf("%.0f", shares);
    QString text = QString::asprintf("%.4f", shares);
    static const QRegularExpression trailingZeros(QStringLiteral("0+$"));
    text.remove(trailingZeros);
    // 12.99999 rounds to "13.0000": no bare separator is left behind.
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

QString priceText(double price) {
    return QString::asprintf("$%.2f", price);
}

QString firedText(double instant, const QLocale& locale) {
    const QDateTime at =
        QDateTime::fromMSecsSinceEpoch(qint64(std::llround(instant * 1000.0)), Qt::LocalTime);
    return QStringLiteral("fired ") + locale.toString(at, QLocale::ShortFormat);
}

QString codeStyledText(const QString& text, const QColor& ink, const QColor& chip) {
    // A no-break space of the sentence's font on either side inside the chip, so the code does
    // not touch its edges; it does not break, so the chip never loses its left edge to a wrap.
    const QString open = QStringLiteral("<span style=\"background-color: %1\">&nbsp;<span "
                                        "style=\"font-family: monospace; color: %2\">")
                             .arg(chip.name(QColor::HexArgb), ink.name(QColor::HexRgb));
    const QString close = QStringLiteral("</span>&nbsp;</span>");
    QString html;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype start = text.indexOf(u'`', from);
        const qsizetype end = start < 0 ? -1 : text.indexOf(u'`', start + 1);
        if (end < 0) {
            html += text.sliced(from).toHtmlEscaped();
            break;
        }
        html += text.sliced(from, start - from).toHtmlEscaped();
        html += open + text.sliced(start + 1, end - start - 1).toHtmlEscaped() + close;
        from = end + 1;
    }
    return html;
}

QString spikeRuleText() {
    return QStringLiteral("Pulse when a stock crosses %1% vs previous close, moves %2% in %3 "
                          "minutes, or sees unusual volume.")
        .arg(QString::number(AppState::dayMoveThreshold, 'g', 6),
             QString::asprintf("%.1f", AppState::windowMoveThreshold),
             QString::number(std::lround(Stock::windowSeconds / 60.0)));
}

} // namespace velline::settings
