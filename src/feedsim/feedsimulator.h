#pragma once

#include "feedsim/simulatedmarket.h"
#include "feedsim/simulatedstreamer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QUrl>

#include <optional>

class QTcpServer;
class QTcpSocket;

namespace velline {

class Clock;

// A canned answer for one symbol, replacing the simulated market in tests.
struct ScriptedAnswer {
    enum class Kind {
        fixed,     // status + body, sent at once
        stall,     // accept the request and never answer
        drip,      // headers at once, then the body a few bytes at a time
        oversized, // a valid but huge body
        reset,     // read the request, then drop the connection without an answer (TCP reset)
    };
    Kind kind = Kind::fixed;
    int status = 200;
    QByteArray body;
    bool announceLength = true; // send Content-Length (else the body ends when the socket closes)
    int dripBytes = 1;
    double dripInterval = 0.5; // seconds on the simulator's clock
    qint64 size = 0;           // oversized: total body bytes
    bool holdOpen = false;     // oversized without length: keep the connection open afterwards
    QList<QPair<QByteArray, QByteArray>> headers; // extra response headers (fixed answers)
    QByteArray contentType = "application/json;charset=utf-8"; // fixed answers

    static ScriptedAnswer fixedAnswer(int status, QByteArray body);
    // A 200 answer whose body stops in the middle of the JSON.
    static ScriptedAnswer brokenBody();
    static ScriptedAnswer stall();
    static ScriptedAnswer drip(QByteArray body, int bytesPerStep, double intervalSeconds);
    // A valid answer padded to `bytes`. Without a length the body normally ends when the
    // connection closes; with `holdOpen` it never ends, so only a client that counts bytes
    // as they arrive can notice the size.
    static ScriptedAnswer oversized(qint64 bytes, bool announceLength, bool holdOpen = false);
    // 429 Too Many Requests, with a Retry-After header when `retryAfter` is not empty.
    static ScriptedAnswer tooManyRequests(const QByteArray& retryAfter);
    // The real feed's rate-limit answer: 429, text/html, the body "Edge: Too Many Requests",
    // no Retry-After.
    static ScriptedAnswer edgeTooManyRequests();
    // 200 with an HTML page instead of JSON (a captive portal, an error page).
    static ScriptedAnswer htmlPage();
    static ScriptedAnswer connectionReset();
};

// One request as the simulator received it.
struct LoggedRequest {
    QByteArray method;
    QByteArray path;  // as on the request line, still percent-encoded, without the query
    QByteArray query; // without the '?'
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QString symbol;                               // decoded symbol for chart and logo requests
    double at = 0;                                // simulator clock

    // First header with this name, compared case-insensitively; empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// A local stand-in for the chart feed, its streamer and the logo service, on 127.0.0.1 only:
//   GET /v8/finance/chart/SYMBOL?interval=5m&range=1d   the feed's JSON from SimulatedMarket
//   GET /v7/finance/spark?symbols=A,B&range=1d&interval=5m
//                                                        several symbols in one answer (v7
//                                                        shape; /v8/finance/spark: v8 shape)
//   GET / and /?version=2 with a WebSocket upgrade      the streamer (SimulatedStreamer)
//   GET /image-stock/SYMBOL.png                          a generated PNG logo
// Unknown symbols get the feed's 404 answer. A symbol is unknown when it contains "UNKNOWN"
// or "XXX", is listed with setUnknownSymbols(), or has characters no ticker uses.
class FeedSimulator : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 8765;

    explicit FeedSimulator(Clock* clock, QObject* parent = nullptr);
    ~FeedSimulator() override;

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // http://127.0.0.1:PORT
    QUrl baseUrl() const;
    QString errorString() const;

    const SimulatedMarket& market() const { return m_market; }
    // Answers every chart request as the market stood at `instant` (seconds since 1970):
    // prices, volumes and bars never change. nullopt (the default) follows the clock.
    void setFrozenAt(std::optional<double> instant) { m_frozenAt = instant; }
    std::optional<double> frozenAt() const { return m_frozenAt; }
    void setUnknownSymbols(const QStringList& symbols);
    bool isKnownSymbol(const QString& symbol) const;

    // Answers for `symbol` (exactly as requested, after percent-decoding) with `answer` until
    // cleared; applies to chart requests only. The symbol "*" stands for every symbol without
    // a script of its own. The multi-symbol endpoint takes the script of sparkScript, else
    // that of "*".
    static inline const QString sparkScript = QStringLiteral("/spark");
    void script(const QString& symbol, ScriptedAnswer answer);
    void clearScript(const QString& symbol);
    void clearScripts();

    // Lets another process switch faults while the simulator runs (the soak script does):
    //   GET /feedsim/fault?kind=K[&symbol=S][&status=N][&retryAfter=V][&bytes=N]
    //       K: status (N, with Retry-After V when given), html, stall, drip, reset,
    //       oversized (N bytes, default 6 MiB), unknown (the feed's 404); S defaults to "*"
    //       edge429 (the real feed's rate-limit answer; S may be /spark for the multi-symbol
    //       endpoint alone), and for the streamer: close (closes every stream connection
    //       once), silent, garbage, refuse (each until cleared)
    //   GET /feedsim/clear       every script removed, the streamer's fault cleared
    //   GET /feedsim/stats       {"chartRequests","logoRequests","sparkRequests",
    //                             "streamConnections" (opened since start), "streamOpen",
    //                             "streamMessages" (sent since start), "streamSubscribed"
    //                             (symbols subscribed now, all connections)}
    void setControlEnabled(bool enabled) { m_control = enabled; }
    int chartRequestCount() const { return m_chartRequests; }
    int sparkRequestCount() const { return m_sparkRequests; }

    // The streamer (on by default); without it an upgrade request gets a 404.
    void setStreamEnabled(bool enabled) { m_streamEnabled = enabled; }
    bool streamEnabled() const { return m_streamEnabled; }
    SimulatedStreamer& streamer() { return *m_streamer; }
    void setStreamFault(SimulatedStreamer::Fault fault) { m_streamer->setFault(fault); }
    // ws://127.0.0.1:PORT/?version=2
    QUrl streamUrl() const;

    // The most recent requests, oldest first; at most requestLogLimit of them, so a simulator
    // that runs for hours keeps a bounded record.
    static constexpr qsizetype requestLogLimit = 1000;
    QList<LoggedRequest> requestLog() const { return m_log; }
    void clearRequestLog() { m_log.clear(); }
    // Connections currently open (stalled ones included).
    int openConnections() const;

Q_SIGNALS:
    void requestLogged(const velline::LoggedRequest& request);

private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void handle(QTcpSocket* socket, const LoggedRequest& request, bool keepAlive);
    void respond(QTcpSocket* socket, int status, const QByteArray& contentType,
                 const QByteArray& body, bool keepAlive,
                 const QList<QPair<QByteArray, QByteArray>>& extraHeaders = {});
    void serveScript(QTcpSocket* socket, const ScriptedAnswer& answer, bool keepAlive);
    void dripStep(QTcpSocket* socket, QByteArray rest, int step, double interval);
    void control(QTcpSocket* socket, const LoggedRequest& request, bool keepAlive);
    void spark(QTcpSocket* socket, const LoggedRequest& request, bool keepAlive);
    // Hands a WebSocket upgrade to the streamer (or refuses it); false when `head` is no
    // upgrade request for the streamer's address.
    bool upgrade(QTcpSocket* socket, const QByteArray& head);

    Clock* m_clock;
    QTcpServer* m_server;
    SimulatedMarket m_market;
    QSet<QString> m_unknown;
    QHash<QString, ScriptedAnswer> m_scripts;
    QList<LoggedRequest> m_log;
    bool m_control = false;
    int m_chartRequests = 0;
    int m_logoRequests = 0;
    int m_sparkRequests = 0;
    bool m_streamEnabled = true;
    SimulatedStreamer* m_streamer;
    std::optional<double> m_frozenAt;
};

} // namespace velline
