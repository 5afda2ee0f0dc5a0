#include "state/marketcalendar.h"

namespace velline::nyse {

namespace {

// The n-th (1-based) given weekday (1 = Monday) of a month.
QDate nthWeekday(int year, int month, int weekday, int n) {
    const QDate first(year, month, 1);
    const int offset = (weekday - first.dayOfWeek() + 7) % 7;
    return first.addDays(offset + 7 * (n - 1));
}

QDate lastWeekday(int year, int month, int weekday) {
    const QDate last = QDate(year, month, 1).addMonths(1).addDays(-1);
    const int back = (last.dayOfWeek() - weekday + 7) % 7;
    return last.addDays(-back);
}

// A fixed-date holiday moved off the weekend: Sunday to Monday, Saturday to Friday.
QDate observed(const QDate& date) {
    switch (date.dayOfWeek()) {
    case Qt::Saturday:
        return date.addDays(-1);
    case Qt::Sunday:
        return date.addDays(1);
    default:
        return date;
    }
}

QDate thanksgiving(int year) {
    return nthWeekday(year, 11, Qt::Thursday, 4);
}

bool isFixedHoliday(const QDate& date, int month, int day) {
    return date == observed(QDate(date.year(), month, day));
}

} // namespace

QDate easterSunday(int year) {
    // Anonymous Gregorian algorithm (Meeus/Jones/Butcher).
    const int a = year % 19;
    const int b = year / 100;
    const int c = year % 100;
    const int d = b / 4;
    const int e = b % 4;
    const int f = (b + 8) / 25;
    const int g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4;
    const int k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int month = (h + l - 7 * m + 114) / 31;
    const int day = (h + l - 7 * m + 114) % 31 + 1;
    return QDate(year, month, day);
}

bool isHoliday(const QDate& date) {
    if (!date.isValid())
        return false;
    const int year = date.year();
    // New Year's Day: a Sunday moves to Monday; a Saturday is not made up on the Friday.
    const QDate newYear(year, 1, 1);
    if (newYear.dayOfWeek() != Qt::Saturday && date == observed(newYear))
        return true;
    if (date == nthWeekday(year, 1, Qt::Monday, 3) ||    // Martin Luther King Jr. Day
        date == nthWeekday(year, 2, Qt::Monday, 3) ||    // Washington's Birthday
        date == easterSunday(year).addDays(-2) ||        // Good Friday
        date == lastWeekday(year, 5, Qt::Monday) ||      // Memorial Day
        (year >= 2022 && isFixedHoliday(date, 6, 19)) || // Juneteenth
        isFixedHoliday(date, 7, 4) ||                    // Independence Day
        date == nthWeekday(year, 9, Qt::Monday, 1) ||    // Labor Day
        date == thanksgiving(year) ||                    // Thanksgiving
        isFixedHoliday(date, 12, 25))                    // Christmas
        return true;
    return false;
}

std::optional<int> earlyCloseMinutes(const QDate& date) {
    if (!date.isValid() || date.dayOfWeek() > Qt::Friday || isHoliday(date))
        return std::nullopt;
    const bool mondayToThursday = date.dayOfWeek() <= Qt::Thursday;
    if (date == thanksgiving(date.year()).addDays(1))
        return earlyClose;
    if (mondayToThursday &&
        ((date.month() == 12 && date.day() == 24) || (date.month() == 7 && date.day() == 3)))
        return earlyClose;
    return std::nullopt;
}

bool isSessionOpen(const QDate& date, int minutes) {
    if (!date.isValid() || date.dayOfWeek() > Qt::Friday || isHoliday(date))
        return false;
    const int close = earlyCloseMinutes(date).value_or(closeMinutes);
    return minutes >= openMinutes && minutes < close;
}

} // namespace velline::nyse
