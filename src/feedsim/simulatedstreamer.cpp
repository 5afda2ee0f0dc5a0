#include "feedsim/simulatedstreamer.h"

#include "clock/clock.h"
#include "feedsim/simulatedmarket.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

int quoteTypeOf(const QString& instrumentType) {
    if (instrumentType == QLatin1String("INDEX"))
        return 9;
    if (instrumentType == QLatin1String("FUTURE"))
        return 18;
    if (instrumentType == QLatin1String("CRYPTOCURRENCY"))
        return 41;
    return 8; // equity
}

// A client frame the streamer accepts: an object of "subscribe" and/or "unsubscribe", each a
// non-empty list of non-empty strings. Anything else is nothing.
std::optional<QJsonObject> actionFrame(const QString& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || doc.object().isEmpty())
        return std::nullopt;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != QLatin1String("subscribe") && it.key() != QLatin1String("unsubscribe"))
            return std::nullopt;
        if (!it.value().isArray() || it.value().toArray().isEmpty())
            return std::nullopt;
        for (const QJsonValue& symbol : it.value().toArray())
            if (!symbol.isString() || symbol.toString().isEmpty())
                return std::nullopt;
    }
    return object;
}

QStringList strings(const QJsonValue& value) {
    QStringList out;
    for (const QJsonValue& v : value.toArray())
        out.append(v.toString());
    return out;
}

} // namespace

SimulatedStreamer::SimulatedStreamer(Clock* clock, const SimulatedMarket& market,
                                     std::function<double()> marketNow,
                                     std::function<bool(const QString&)> known, QObject* parent)
    : QObject(parent), m_clock(clock), m_market(market), m_marketNow(std::move(marketNow)),
      m_known(std::move(known)),
      m_server(new QWebSocketServer(QStringLiteral("velline-feedsim"),
                                    QWebSocketServer::NonSecureMode, this)) {
    connect(m_server, &QWebSocketServer::newConnection, this, &SimulatedStreamer::accept);
}

SimulatedStreamer::~SimulatedStreamer() = default;

void SimulatedStreamer::takeOver(QTcpSocket* socket) {
    m_server->handleConnection(socket);
}

void SimulatedStreamer::accept() {
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        auto client = std::make_shared<Client>();
        client->socket = socket;
        m_clients.append(client);
        ++m_opened;
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& text) { receive(socket, text); });
        connect(socket, &QWebSocket::binaryMessageReceived, socket, &QWebSocket::abort);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { dropClient(socket); });
        if (!m_timer)
            m_timer = std::make_unique<RepeatingTimer>(m_clock, 1.0, this, [this] { tick(); });
        Q_EMIT connectionOpened();
    }
}

void SimulatedStreamer::dropClient(QWebSocket* socket) {
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const auto& c) { return c->socket == socket; });
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    socket->deleteLater();
    if (m_clients.isEmpty())
        m_timer.reset();
    Q_EMIT connectionClosed();
}

SimulatedStreamer::Client* SimulatedStreamer::clientFor(QWebSocket* socket) {
    for (const auto& c : m_clients)
        if (c->socket == socket)
            return c.get();
    return nullptr;
}

void SimulatedStreamer::closeAll() {
    const auto clients = m_clients;
    for (const auto& c : clients)
        if (c->socket)
            c->socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

int SimulatedStreamer::openConnections() const {
    return static_cast<int>(m_clients.size());
}

int SimulatedStreamer::subscribedCount() const {
    int n = 0;
    for (const auto& c : m_clients)
        n += static_cast<int>(c->subscribed.size());
    return n;
}

QStringList SimulatedStreamer::subscribedSymbols() const {
    QSet<QString> all;
    for (const auto& c : m_clients)
        for (const QString& s : c->subscribed)
            all.insert(s);
    QStringList out(all.begin(), all.end());
    out.sort();
    return out;
}

void SimulatedStreamer::receive(QWebSocket* socket, const QString& text) {
    const QByteArray frame = text.toUtf8();
    if (m_frames.size() >= frameLogLimit)
        m_frames.removeFirst();
    m_frames.append(frame);
    Q_EMIT frameReceived(frame);

    Client* client = clientFor(socket);
    if (!client)
        return;
    const std::optional<QJsonObject> action = actionFrame(text);
    if (!action) {
        // The real streamer ends the connection on a frame it cannot read, without a reason.
        socket->abort();
        return;
    }
    if (action->contains(QLatin1String("unsubscribe")))
        for (const QString& symbol : strings(action->value(QLatin1String("unsubscribe")))) {
            client->subscribed.removeAll(symbol);
            client->lastPrice.remove(symbol);
        }
    if (action->contains(QLatin1String("subscribe")))
        subscribe(*client, strings(action->value(QLatin1String("subscribe"))));
}

void SimulatedStreamer::subscribe(Client& client, const QStringList& symbols) {
    for (const QString& symbol : symbols) {
        if (client.subscribed.contains(symbol))
            continue; // a heartbeat re-subscribe
        if (!client.slotsTaken.contains(symbol)) {
            if (client.slotsTaken.size() >= symbolCap)
                continue;
            client.slotsTaken.insert(symbol);
        }
        client.subscribed.append(symbol);
        if (!m_known(symbol) || m_fault != Fault::none)
            continue;
        const StreamTick snapshot = tickFor(symbol, m_marketNow() - m_snapshotAge);
        client.lastPrice.insert(symbol, float(snapshot.price));
        send(client, encodeStreamFrame(snapshot));
    }
}

void SimulatedStreamer::send(Client& client, const QByteArray& frame) {
    if (!client.socket)
        return;
    client.socket->sendTextMessage(QString::fromLatin1(frame));
    ++m_messages;
}

void SimulatedStreamer::tick() {
    if (m_fault == Fault::silent || m_fault == Fault::refuse)
        return;
    const double now = m_marketNow();
    QHash<QString, StreamTick> ticks; // one market reading per symbol per second
    const auto clients = m_clients;
    for (const auto& client : clients) {
        for (const QString& symbol : client->subscribed) {
            if (!m_known(symbol))
                continue;
            if (m_fault == Fault::garbage) {
                // In turn: not JSON, bad base64, a record cut short, a record with no symbol.
                static const QByteArray frames[] = {
                    "\x01garbage{", R"({"type":"pricing","message":"%%%not base64"})",
                    R"({"type":"pricing","message":"CgRBQVBMFQ=="})",
                    R"({"type":"pricing","message":"FQAAgD8="})"};
                send(*client, frames[m_garbageTurn++ % 4]);
                continue;
            }
            auto it = ticks.find(symbol);
            if (it == ticks.end())
                it = ticks.insert(symbol, tickFor(symbol, now));
            const float price = float(it->price);
            const auto last = client->lastPrice.constFind(symbol);
            if (last != client->lastPrice.constEnd() && *last == price)
                continue; // nothing moved: the streamer stays quiet
            client->lastPrice.insert(symbol, price);
            send(*client, encodeStreamFrame(*it));
        }
    }
}

StreamTick SimulatedStreamer::tickFor(const QString& symbol, double instant) const {
    const SimSnapshot s = m_market.snapshot(symbol, instant);
    StreamTick t;
    t.symbol = s.symbol;
    t.priceHint = s.price < 2 ? 4 : 2;
    t.price = roundWithPriceHint(s.price, t.priceHint);
    t.timeMs = static_cast<qint64>(std::floor(instant)) * 1000;
    t.previousClose = roundWithPriceHint(s.previousClose, t.priceHint);
    t.change = roundWithPriceHint(t.price - t.previousClose, t.priceHint);
    t.changePercent = t.previousClose != 0 ? (t.price / t.previousClose - 1) * 100 : 0;
    t.dayVolume = s.volume;
    bool first = true;
    for (const SimBar& b : s.bars) {
        if (!b.close)
            continue;
        if (first)
            t.openPrice = roundWithPriceHint(b.open.value_or(*b.close), t.priceHint);
        t.dayHigh = first ? b.high.value_or(*b.close) : std::max(t.dayHigh, b.high.value_or(0));
        t.dayLow = first ? b.low.value_or(*b.close) : std::min(t.dayLow, b.low.value_or(t.dayLow));
        first = false;
    }
    t.dayHigh = roundWithPriceHint(t.dayHigh, t.priceHint);
    t.dayLow = roundWithPriceHint(t.dayLow, t.priceHint);
    t.marketHours = 1;
    t.quoteType = quoteTypeOf(s.instrumentType);
    t.currency = QStringLiteral("USD");
    t.exchange = QStringLiteral("SIM");
    t.shortName = s.symbol + QStringLiteral(" (simulated)");
    return t;
}

} // namespace velline
