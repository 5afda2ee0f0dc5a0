#pragma once

#include "market/streamwire.h"

#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QUrl>

#include <memory>
#include <optional>

class QWebSocket;

namespace velline {
class Clock;
class RepeatingTimer;
} // namespace velline

namespace vellinectl {

// One streamed record as a compact JSON object with its keys in a fixed order: symbol, price,
// time (ISO 8601, UTC), timeMs, change, changePercent, dayVolume, dayHigh, dayLow,
// previousClose (only when the record has one), marketHours, quoteType.
QByteArray streamTickLine(const velline::StreamTick& tick);

// Opens the streamer, subscribes to the symbols (again every 15 s, as the streamer expects),
// and prints each record it pushes as one line. Undecodable frames are reported on `err` and
// skipped. Ends with finished(): ExitOk when the time is up, ExitFailed when the connection
// could not be opened within 10 s or was lost.
class StreamQuotePrinter : public QObject {
    Q_OBJECT

public:
    static constexpr double heartbeatSeconds = 15;
    static constexpr double connectSeconds = 10;

    StreamQuotePrinter(const QUrl& url, const QStringList& symbols, velline::Clock* clock,
                       QTextStream& out, QTextStream& err, QObject* parent = nullptr);
    ~StreamQuotePrinter() override;

    // Runs for `seconds` from now, or until the connection ends when there is no limit.
    void start(std::optional<double> seconds);

Q_SIGNALS:
    void finished(int code);

private:
    void finish(int code, const QString& why = {});
    void subscribe();

    QUrl m_url;
    QStringList m_symbols;
    velline::Clock* m_clock;
    QTextStream& m_out;
    QTextStream& m_err;
    QWebSocket* m_socket;
    std::unique_ptr<velline::RepeatingTimer> m_heartbeat;
    bool m_done = false;
};

} // namespace vellinectl
