#pragma once

#include <QObject>
#include <QTextStream>

namespace velline {
class AppState;
class Clock;
} // namespace velline

namespace vellinectl {

// Writes every published change of a watch state as one JSON object per line, each with "t"
// (seconds since 1970, from `clock`) first and "event" second:
//   stocks        after each assignment of the records (symbols, afterHours, records)
//   active        on each assignment of the active symbol (symbol or null, direction)
//   alert         on each fired event (id, symbol, reason, level, alertDirection, direction)
//   alertCleared  when the shown event goes away
//   feed          when the quote feed's status changes: feed ("live", "paused", "offline"),
//                 resumesAt (Unix seconds or null), reason ("rateLimited", "serverError",
//                 "offline" or null) and lastGoodRefresh (Unix seconds or null)
class WatchPrinter : public QObject {
public:
    WatchPrinter(velline::AppState* state, velline::Clock* clock, QTextStream& out,
                 QObject* parent = nullptr);

private:
    void printStocks();
    void printActive();
    void printAlert();
    void printFeed();
    void emitLine(const QByteArray& event, const QList<QPair<QByteArray, QByteArray>>& fields);

    velline::AppState* m_state;
    velline::Clock* m_clock;
    QTextStream& m_out;
};

} // namespace vellinectl
