#pragma once

#include "market/streamwire.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace velline {

class Clock;
class RepeatingTimer;
class SimulatedMarket;

// The feed's streamer for the simulated market, on connections the HTTP side hands over.
// It speaks the public streamer's wire format:
//   - the client sends {"subscribe":[...]} and {"unsubscribe":[...]}; any other frame (not
//     JSON, an unknown key, a value that is not a non-empty list of non-empty strings, a binary
//     frame) drops the connection without a word;
//   - a connection holds at most symbolCap symbols, counted over its whole life (a symbol once
//     subscribed keeps its slot after an unsubscribe, unknown symbols take slots too); symbols
//     beyond the cap are ignored silently;
//   - a newly subscribed known symbol gets its current snapshot at once (a re-subscribe of a
//     symbol already held sends nothing); after that each subscribed symbol gets one message
//     per second of the clock while its price moved; unknown symbols never get messages;
//   - prices go out as 32-bit floats, like the real feed's.
class SimulatedStreamer : public QObject {
    Q_OBJECT

public:
    static constexpr int symbolCap = 100;

    enum class Fault {
        none,
        silent,  // keep every connection open and send nothing
        garbage, // send undecodable frames in place of prices
        refuse,  // refuse the upgrade with an HTTP error (handled by the HTTP side)
    };

    // `marketNow` gives the instant the market is read at (a frozen simulator's fixed one);
    // `known` tells which symbols the market has.
    SimulatedStreamer(Clock* clock, const SimulatedMarket& market,
                      std::function<double()> marketNow, std::function<bool(const QString&)> known,
                      QObject* parent = nullptr);
    ~SimulatedStreamer() override;

    // Takes over a connection whose WebSocket upgrade request has not been read yet.
    void takeOver(QTcpSocket* socket);

    void setFault(Fault fault) { m_fault = fault; }
    Fault fault() const { return m_fault; }
    // Closes every open connection (a normal close from the server's side).
    void closeAll();
    // Snapshots sent on subscribe show the market this many seconds ago (the real streamer's
    // can be days old); 0 by default.
    void setSnapshotAge(double seconds) { m_snapshotAge = seconds; }

    int connectionsOpened() const { return m_opened; }
    int openConnections() const;
    int messagesSent() const { return m_messages; }
    // Symbols subscribed now, summed over the connections.
    int subscribedCount() const;
    // The symbols subscribed now on any connection, sorted.
    QStringList subscribedSymbols() const;
    // The text frames received from clients, oldest first (the latest frameLogLimit).
    static constexpr qsizetype frameLogLimit = 1000;
    QList<QByteArray> receivedFrames() const { return m_frames; }

    // The message the streamer sends for `symbol` at `instant`.
    StreamTick tickFor(const QString& symbol, double instant) const;

Q_SIGNALS:
    void frameReceived(const QByteArray& frame);
    void connectionOpened();
    void connectionClosed();

private:
    struct Client {
        QPointer<QWebSocket> socket;
        QStringList subscribed;   // in the order they came
        QSet<QString> slotsTaken; // every symbol ever subscribed here
        QHash<QString, float> lastPrice;
    };

    void accept();
    void receive(QWebSocket* socket, const QString& text);
    void subscribe(Client& client, const QStringList& symbols);
    void send(Client& client, const QByteArray& frame);
    void tick();
    Client* clientFor(QWebSocket* socket);
    void dropClient(QWebSocket* socket);

    Clock* m_clock;
    const SimulatedMarket& m_market;
    std::function<double()> m_marketNow;
    std::function<bool(const QString&)> m_known;
    QWebSocketServer* m_server;
    std::unique_ptr<RepeatingTimer> m_timer;
    QList<std::shared_ptr<Client>> m_clients;
    QList<QByteArray> m_frames;
    Fault m_fault = Fault::none;
    double m_snapshotAge = 0;
    int m_opened = 0;
    int m_messages = 0;
    int m_garbageTurn = 0;
};

} // namespace velline
