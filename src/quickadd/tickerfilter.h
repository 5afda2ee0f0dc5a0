#pragma once

#include <QString>

namespace velline {

// Longest ticker the quick-add field accepts ("BRK-B", "ES=F", "7203.T", "^GSPC" all fit).
inline constexpr qsizetype kMaxTickerLength = 12;

// What the quick-add field keeps of typed text: upper-cased, only A-Z, 0-9 and the four
// characters ^ . - = (index carets, exchange suffixes, share classes, futures), in order,
// at most kMaxTickerLength of them. Everything else (spaces, other letters) is dropped.
QString sanitizeTicker(const QString& text);

} // namespace velline
