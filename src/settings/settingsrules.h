#pragma once

#include <QColor>
#include <QLocale>
#include <QString>

#include <optional>

namespace velline::settings {

// A share count or a price typed by the user: the whole text as a decimal number with "." as the
// separator whatever the locale ("12", "12.5", ".5", "1e3", an optional sign), finite and above 0.
// Anything else, surrounding spaces included, gives nothing.
std::optional<double> parsePositiveNumber(const QString& text);

// Whether a Portfolio or Alerts add row may add: the symbol, trimmed of spaces and tabs, is not
// empty nor longer than kMaxSymbolLength, and the number text passes parsePositiveNumber.
bool canAdd(const QString& symbol, const QString& numberText);

// 12 -> "12", 12.5 -> "12.5", 0.125 -> "0.125": whole counts without decimals, others with at
// most four, trailing zeros (and a separator left bare) removed.
QString shareCountText(double shares);

// "$187.50".
QString priceText(double price);

// "fired " and the instant (seconds since 1970-01-01 UTC) in the locale's short date and time.
QString firedText(double instant, const QLocale& locale = QLocale::system());

// `text` as rich text with every `backticked` part set as code: a monospaced font in `ink` on a
// `chip` background. Everything else is escaped (so "S&P" stays as it reads); a backtick
// without its closing partner is kept as it is.
QString codeStyledText(const QString& text, const QColor& ink, const QColor& chip);

// The subtitle of the built-in spike rule, from the thresholds the watch state uses.
QString spikeRuleText();

} // namespace velline::settings
