#include "feedsim/feedsimulator.h"

#include "clock/clock.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

#include <sys/socket.h>

namespace velline {

namespace {

constexpr qsizetype maxHeaderBytes = 64 * 1024;
const char* const socketBufferProperty = "velline_feedsim_buffer";
const char* const socketBusyProperty = "velline_feedsim_busy";

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray statusLine(int status) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
}

bool plausibleTicker(const QString& symbol) {
    if (symbol.isEmpty() || symbol.size() > 24)
        return false;
    for (const QChar c : symbol) {
        const bool ok = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
                        c == QLatin1Char('^') || c == QLatin1Char('=') || c == QLatin1Char('-');
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

ScriptedAnswer ScriptedAnswer::fixedAnswer(int status, QByteArray body) {
    ScriptedAnswer a;
    a.status = status;
    a.body = std::move(body);
    return a;
}

ScriptedAnswer ScriptedAnswer::brokenBody() {
    return fixedAnswer(200, QByteArrayLiteral(R"({"chart":{"result":[{"meta":{"symbol":"X",)"));
}

ScriptedAnswer ScriptedAnswer::stall() {
    ScriptedAnswer a;
    a.kind = Kind::stall;
    return a;
}

ScriptedAnswer ScriptedAnswer::drip(QByteArray body, int bytesPerStep, double intervalSeconds) {
    ScriptedAnswer a;
    a.kind = Kind::drip;
    a.body = std::move(body);
    a.dripBytes = std::max(1, bytesPerStep);
    a.dripInterval = intervalSeconds;
    return a;
}

ScriptedAnswer ScriptedAnswer::oversized(qint64 bytes, bool announceLength, bool holdOpen) {
    ScriptedAnswer a;
    a.holdOpen = holdOpen && !announceLength;
    a.kind = Kind::oversized;
    a.size = bytes;
    a.announceLength = announceLength;
    return a;
}

ScriptedAnswer ScriptedAnswer::tooManyRequests(const QByteArray& retryAfter) {
    ScriptedAnswer a = fixedAnswer(
        429,
        QByteArrayLiteral(
            R"({"chart":{"result":null,"error":{"code":"Too Many Requests","description":null}}})"));
    if (!retryAfter.isEmpty())
        a.headers.append({"Retry-After", retryAfter});
    return a;
}

ScriptedAnswer ScriptedAnswer::edgeTooManyRequests() {
    ScriptedAnswer a = fixedAnswer(429, QByteArrayLiteral("Edge: Too Many Requests"));
    a.contentType = "text/html";
    return a;
}

ScriptedAnswer ScriptedAnswer::htmlPage() {
    ScriptedAnswer a = fixedAnswer(
        200, QByteArrayLiteral("<!DOCTYPE html>\n<html><head><title>Sign in</title></head>"
                               "<body><p>Please sign in to continue.</p></body></html>\n"));
    a.contentType = "text/html; charset=utf-8";
    return a;
}

ScriptedAnswer ScriptedAnswer::connectionReset() {
    ScriptedAnswer a;
    a.kind = Kind::reset;
    return a;
}

QByteArray LoggedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

FeedSimulator::FeedSimulator(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &FeedSimulator::accept);
    m_streamer = new SimulatedStreamer(
        clock, m_market, [this] { return m_frozenAt.value_or(m_clock->now()); },
        [this](const QString& symbol) { return isKnownSymbol(symbol); }, this);
}

FeedSimulator::~FeedSimulator() = default;

bool FeedSimulator::listen(quint16 port) {
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 FeedSimulator::port() const {
    return m_server->serverPort();
}

QUrl FeedSimulator::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

QUrl FeedSimulator::streamUrl() const {
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/?version=2").arg(port()));
}

QString FeedSimulator::errorString() const {
    return m_server->errorString();
}

void FeedSimulator::setUnknownSymbols(const QStringList& symbols) {
    m_unknown = QSet<QString>(symbols.begin(), symbols.end());
}

bool FeedSimulator::isKnownSymbol(const QString& symbol) const {
    const QString upper = symbol.toUpper();
    return plausibleTicker(symbol) && !upper.contains(QLatin1String("UNKNOWN")) &&
           !upper.contains(QLatin1String("XXX")) && !m_unknown.contains(symbol) &&
           !m_unknown.contains(upper);
}

void FeedSimulator::script(const QString& symbol, ScriptedAnswer answer) {
    m_scripts.insert(symbol, std::move(answer));
}

void FeedSimulator::clearScript(const QString& symbol) {
    m_scripts.remove(symbol);
}

void FeedSimulator::clearScripts() {
    m_scripts.clear();
}

int FeedSimulator::openConnections() const {
    return static_cast<int>(m_server->findChildren<QTcpSocket*>().size());
}

void FeedSimulator::accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        readFrom(socket);
    }
}

void FeedSimulator::readFrom(QTcpSocket* socket) {
    // One request at a time per connection; the next is read once this one is answered.
    if (socket->property(socketBusyProperty).toBool())
        return;
    if (socket->property(socketBufferProperty).toByteArray().isEmpty()) {
        // A connection's first request stays unread until its head is complete, so that an
        // upgrade to the streamer can be handed over untouched.
        const QByteArray peeked = socket->peek(maxHeaderBytes + 1);
        const qsizetype headEnd = peeked.indexOf("\r\n\r\n");
        if (headEnd < 0 && peeked.size() <= maxHeaderBytes)
            return;
        if (headEnd >= 0 && upgrade(socket, peeked.left(headEnd)))
            return;
    }
    QByteArray buffer = socket->property(socketBufferProperty).toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > maxHeaderBytes) {
            respond(socket, 400, "text/plain", "request head too large\n", false);
            return;
        }
        socket->setProperty(socketBufferProperty, buffer);
        return;
    }
    const QByteArray head = buffer.left(end);
    socket->setProperty(socketBufferProperty, buffer.mid(end + 4));

    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3) {
        respond(socket, 400, "text/plain", "malformed request line\n", false);
        return;
    }
    LoggedRequest request;
    request.method = requestLine[0];
    const QByteArray target = requestLine[1];
    const qsizetype q = target.indexOf('?');
    request.path = q < 0 ? target : target.left(q);
    request.query = q < 0 ? QByteArray() : target.mid(q + 1);
    request.at = m_clock->now();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    const bool keepAlive =
        requestLine[2] == "HTTP/1.1" && request.header("Connection").toLower() != "close";
    handle(socket, request, keepAlive);
}

void FeedSimulator::handle(QTcpSocket* socket, const LoggedRequest& incoming, bool keepAlive) {
    LoggedRequest request = incoming;
    static const QByteArray chartPrefix = "/v8/finance/chart/";
    static const QByteArray logoPrefix = "/image-stock/";
    const bool chart = request.path.startsWith(chartPrefix);
    const bool logo = request.path.startsWith(logoPrefix) && request.path.endsWith(".png");
    if (m_control && request.path.startsWith("/feedsim/")) {
        control(socket, request, keepAlive);
        return;
    }
    if (request.path == "/v7/finance/spark" || request.path == "/v8/finance/spark") {
        spark(socket, request, keepAlive);
        return;
    }
    if (chart)
        request.symbol = QUrl::fromPercentEncoding(request.path.mid(chartPrefix.size()));
    else if (logo)
        request.symbol = QUrl::fromPercentEncoding(request.path.mid(logoPrefix.size()).chopped(4));
    if (m_log.size() >= requestLogLimit)
        m_log.removeFirst();
    m_log.append(request);
    Q_EMIT requestLogged(request);

    if (request.method != "GET") {
        respond(socket, 405, "text/plain", "only GET\n", keepAlive);
        return;
    }
    if (chart) {
        ++m_chartRequests;
        auto it = m_scripts.constFind(request.symbol);
        if (it == m_scripts.constEnd())
            it = m_scripts.constFind(QStringLiteral("*"));
        if (it != m_scripts.constEnd()) {
            serveScript(socket, *it, keepAlive);
            return;
        }
        if (!isKnownSymbol(request.symbol)) {
            respond(socket, 404, "application/json;charset=utf-8",
                    SimulatedMarket::notFoundAnswer(), keepAlive);
            return;
        }
        respond(socket, 200, "application/json;charset=utf-8",
                m_market.chartAnswer(request.symbol, m_frozenAt.value_or(m_clock->now())),
                keepAlive);
        return;
    }
    if (logo) {
        ++m_logoRequests;
        if (!isKnownSymbol(request.symbol)) {
            respond(socket, 404, "text/plain", "no logo\n", keepAlive);
            return;
        }
        respond(socket, 200, "image/png", SimulatedMarket::logoPng(request.symbol), keepAlive);
        return;
    }
    respond(socket, 404, "text/plain", "not found\n", keepAlive);
}

void FeedSimulator::respond(QTcpSocket* socket, int status, const QByteArray& contentType,
                            const QByteArray& body, bool keepAlive,
                            const QList<QPair<QByteArray, QByteArray>>& extraHeaders) {
    QByteArray out = statusLine(status);
    out += "Content-Type: " + contentType + "\r\n";
    for (const auto& [name, value] : extraHeaders)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    out += body;
    socket->write(out);
    if (!keepAlive) {
        socket->disconnectFromHost();
        return;
    }
    // Pipelined requests may already be waiting.
    if (socket->bytesAvailable() > 0 ||
        !socket->property(socketBufferProperty).toByteArray().isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this, guard = QPointer<QTcpSocket>(socket)] {
                if (guard)
                    readFrom(guard);
            },
            Qt::QueuedConnection);
}

void FeedSimulator::serveScript(QTcpSocket* socket, const ScriptedAnswer& answer, bool keepAlive) {
    switch (answer.kind) {
    case ScriptedAnswer::Kind::fixed:
        if (answer.announceLength) {
            respond(socket, answer.status, answer.contentType, answer.body, keepAlive,
                    answer.headers);
        } else {
            socket->write(statusLine(answer.status) +
                          "Content-Type: application/json\r\nConnection: close\r\n\r\n" +
                          answer.body);
            socket->disconnectFromHost();
        }
        return;
    case ScriptedAnswer::Kind::reset: {
        // A zero linger time makes the close a reset rather than an orderly shutdown.
        const struct linger hard { 1, 0 };
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                     sizeof hard);
        socket->abort();
        return;
    }
    case ScriptedAnswer::Kind::stall:
        // Keep the connection and never read or answer on it again.
        socket->setProperty(socketBusyProperty, true);
        return;
    case ScriptedAnswer::Kind::drip: {
        socket->setProperty(socketBusyProperty, true);
        socket->write(statusLine(answer.status) +
                      "Content-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n");
        dripStep(socket, answer.body, answer.dripBytes, answer.dripInterval);
        return;
    }
    case ScriptedAnswer::Kind::oversized: {
        // A valid answer padded with whitespace to the requested size, so only its size is wrong.
        QByteArray body = QByteArrayLiteral(
            R"({"chart":{"result":[{"meta":{"symbol":"BIG","regularMarketPrice":1}}]}})");
        if (answer.size > body.size())
            body.append(QByteArray(answer.size - body.size(), ' '));
        QByteArray out = statusLine(200) + "Content-Type: application/json\r\n";
        if (answer.announceLength)
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        socket->write(out + body);
        if (answer.holdOpen)
            socket->setProperty(socketBusyProperty, true);
        else
            socket->disconnectFromHost();
        return;
    }
    }
}

void FeedSimulator::dripStep(QTcpSocket* socket, QByteArray rest, int step, double interval) {
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->write(rest.left(step));
    rest.remove(0, std::min<qsizetype>(step, rest.size()));
    if (rest.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    m_clock->schedule(interval, socket, [this, socket, rest, step, interval] {
        dripStep(socket, rest, step, interval);
    });
}

} // namespace velline

namespace velline {

void FeedSimulator::control(QTcpSocket* socket, const LoggedRequest& request, bool keepAlive) {
    const QUrlQuery query(QString::fromLatin1(request.query));
    const auto arg = [&query](const char* key) {
        return query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
    };
    if (request.path == "/feedsim/stats") {
        respond(
            socket, 200, "application/json",
            "{\"chartRequests\":" + QByteArray::number(m_chartRequests) +
                ",\"logoRequests\":" + QByteArray::number(m_logoRequests) +
                ",\"sparkRequests\":" + QByteArray::number(m_sparkRequests) +
                ",\"streamConnections\":" + QByteArray::number(m_streamer->connectionsOpened()) +
                ",\"streamOpen\":" + QByteArray::number(m_streamer->openConnections()) +
                ",\"streamMessages\":" + QByteArray::number(m_streamer->messagesSent()) +
                ",\"streamSubscribed\":" + QByteArray::number(m_streamer->subscribedCount()) +
                "}\n",
            keepAlive);
        return;
    }
    if (request.path == "/feedsim/clear") {
        clearScripts();
        m_streamer->setFault(SimulatedStreamer::Fault::none);
        respond(socket, 200, "text/plain", "cleared\n", keepAlive);
        return;
    }
    if (request.path != "/feedsim/fault") {
        respond(socket, 404, "text/plain", "unknown control\n", keepAlive);
        return;
    }
    const QString kind = arg("kind");
    const QString symbol = arg("symbol").isEmpty() ? QStringLiteral("*") : arg("symbol");
    const QHash<QString, SimulatedStreamer::Fault> streamFaults{
        {QStringLiteral("silent"), SimulatedStreamer::Fault::silent},
        {QStringLiteral("garbage"), SimulatedStreamer::Fault::garbage},
        {QStringLiteral("refuse"), SimulatedStreamer::Fault::refuse}};
    if (kind == QLatin1String("close") || streamFaults.contains(kind)) {
        if (kind == QLatin1String("close"))
            m_streamer->closeAll();
        else
            m_streamer->setFault(streamFaults.value(kind));
        respond(socket, 200, "text/plain", "ok\n", keepAlive);
        return;
    }
    ScriptedAnswer answer;
    if (kind == QLatin1String("edge429")) {
        answer = ScriptedAnswer::edgeTooManyRequests();
    } else if (kind == QLatin1String("status")) {
        const int code =
            std::clamp(arg("status").isEmpty() ? 500 : arg("status").toInt(), 100, 599);
        const QByteArray retryAfter = arg("retryAfter").toLatin1();
        answer = ScriptedAnswer::tooManyRequests(retryAfter);
        answer.status = code;
    } else if (kind == QLatin1String("html")) {
        answer = ScriptedAnswer::htmlPage();
    } else if (kind == QLatin1String("stall")) {
        answer = ScriptedAnswer::stall();
    } else if (kind == QLatin1String("drip")) {
        answer = ScriptedAnswer::drip(m_market.chartAnswer(QStringLiteral("AAPL"), m_clock->now()),
                                      16, 0.5);
    } else if (kind == QLatin1String("reset")) {
        answer = ScriptedAnswer::connectionReset();
    } else if (kind == QLatin1String("oversized")) {
        const qint64 bytes = arg("bytes").isEmpty() ? 6 * 1024 * 1024 : arg("bytes").toLongLong();
        answer = ScriptedAnswer::oversized(bytes, true);
    } else if (kind == QLatin1String("unknown")) {
        answer = ScriptedAnswer::fixedAnswer(404, SimulatedMarket::notFoundAnswer());
    } else {
        respond(socket, 400, "text/plain", "unknown fault kind\n", keepAlive);
        return;
    }
    script(symbol, answer);
    respond(socket, 200, "text/plain", "ok\n", keepAlive);
}

} // namespace velline

namespace velline {

bool FeedSimulator::upgrade(QTcpSocket* socket, const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET")
        return false;
    bool websocket = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare("Upgrade", Qt::CaseInsensitive) == 0)
            websocket =
                line.mid(colon + 1).trimmed().compare("websocket", Qt::CaseInsensitive) == 0;
    }
    const QByteArray target = requestLine[1];
    const QByteArray path = target.left(target.indexOf('?'));
    if (!websocket || path != "/" || !m_streamEnabled)
        return false; // answered as an ordinary request
    if (m_streamer->fault() == SimulatedStreamer::Fault::refuse) {
        socket->read(head.size() + 4);
        respond(socket, 403, "text/plain", "stream refused\n", false);
        return true;
    }
    // The streamer reads the request itself from here on.
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->setParent(m_streamer);
    m_streamer->takeOver(socket);
    return true;
}

void FeedSimulator::spark(QTcpSocket* socket, const LoggedRequest& request, bool keepAlive) {
    ++m_sparkRequests;
    if (m_log.size() >= requestLogLimit)
        m_log.removeFirst();
    m_log.append(request);
    Q_EMIT requestLogged(request);
    if (request.method != "GET") {
        respond(socket, 405, "text/plain", "only GET\n", keepAlive);
        return;
    }
    auto it = m_scripts.constFind(sparkScript);
    if (it == m_scripts.constEnd())
        it = m_scripts.constFind(QStringLiteral("*"));
    if (it != m_scripts.constEnd()) {
        serveScript(socket, *it, keepAlive);
        return;
    }
    const QUrlQuery query(QString::fromLatin1(request.query));
    const QStringList asked = query.queryItemValue(QStringLiteral("symbols"), QUrl::FullyDecoded)
                                  .split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (asked.isEmpty()) {
        respond(socket, 400, "application/json;charset=utf-8",
                R"({"spark":{"result":null,"error":{"code":"Bad Request",)"
                R"("description":"Missing value for the \"symbols\" argument"}}})",
                keepAlive);
        return;
    }
    QStringList known;
    for (const QString& symbol : asked)
        if (isKnownSymbol(symbol.trimmed()) && !known.contains(symbol.trimmed()))
            known.append(symbol.trimmed());
    if (known.isEmpty()) {
        respond(socket, 404, "application/json;charset=utf-8",
                SimulatedMarket::sparkNotFoundAnswer(), keepAlive);
        return;
    }
    const bool flat = request.path.startsWith("/v8/");
    respond(socket, 200, "application/json;charset=utf-8",
            m_market.sparkAnswer(known, m_frozenAt.value_or(m_clock->now()), flat), keepAlive);
}

} // namespace velline
