#pragma once

#include <QDate>

#include <optional>

namespace velline::nyse {

// The New York Stock Exchange's trading calendar, worked out by rule for any year (no table
// of dates to keep up to date). Closures the exchange announces at short notice (national days
// of mourning, storms) cannot be foreseen by any rule and are not covered.

// Full-day closures, as observed: New Year's Day, Martin Luther King Jr. Day, Washington's
// Birthday, Good Friday, Memorial Day, Juneteenth (from 2022), Independence Day, Labor Day,
// Thanksgiving and Christmas. A holiday on a Sunday is observed on the Monday after; one on a
// Saturday on the Friday before, except New Year's Day (the Friday before ends a year of
// accounts, so the exchange stays open).
bool isHoliday(const QDate& date);

// Minutes after midnight New York time at which the regular session closes on `date`:
// 13:00 (780) the day after Thanksgiving, on Christmas Eve and on July 3 when those are
// Monday-to-Thursday trading days; nothing on other days (the normal 16:00 close).
std::optional<int> earlyCloseMinutes(const QDate& date);

// Easter Sunday of the Gregorian calendar.
QDate easterSunday(int year);

// Session hours in minutes after midnight, New York time.
inline constexpr int openMinutes = 9 * 60 + 30;
inline constexpr int closeMinutes = 16 * 60;
inline constexpr int earlyClose = 13 * 60;

// Whether the regular session runs at `minutes` after midnight on `date` (New York time):
// a weekday that is no holiday, from 09:30 inclusive to the close exclusive.
bool isSessionOpen(const QDate& date, int minutes);

} // namespace velline::nyse
