#pragma once

#include "prefs/userpreferences.h"

#include <QString>

namespace velline {

// Longest ticker the quick-add field accepts: the limit of every other door.
inline constexpr qsizetype kMaxTickerLength = kMaxSymbolLength;

// What the quick-add field keeps of typed text: upper-cased, only A-Z, 0-9 and the four
// characters ^ . - = (index carets, exchange suffixes, share classes, futures), in order,
// at most kMaxTickerLength of them. Everything else (spaces, other letters) is dropped.
QString sanitizeTicker(const QString& text);

} // namespace velline
