// vellinectl quote --stream: the streamer's records as JSON lines.
#include "cmd_quotestream.h"

#include "clock/clock.h"
#include "commands.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebSocket>

namespace vellinectl {

namespace {

QByteArray json(const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QString describe(velline::StreamDecodeError error) {
    using E = velline::StreamDecodeError;
    switch (error) {
    case E::none:
        break;
    case E::notJson:
        return QStringLiteral("not JSON");
    case E::notPricing:
        return QStringLiteral("not a pricing message");
    case E::badBase64:
        return QStringLiteral("bad base64");
    case E::malformed:
        return QStringLiteral("malformed record");
    case E::noSymbol:
        return QStringLiteral("record without a symbol");
    case E::tooLarge:
        return QStringLiteral("frame too large");
    }
    return QStringLiteral("undecodable");
}

} // namespace

QByteArray streamTickLine(const velline::StreamTick& t) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(t.timeMs, Qt::UTC);
    const QString iso = time.toString(t.timeMs % 1000 == 0 ? Qt::ISODate : Qt::ISODateWithMs);
    QByteArray line =
        "{\"symbol\":" + json(t.symbol) + ",\"price\":" + json(t.price) + ",\"time\":" + json(iso) +
        ",\"timeMs\":" + json(t.timeMs) + ",\"change\":" + json(t.change) +
        ",\"changePercent\":" + json(t.changePercent) + ",\"dayVolume\":" + json(t.dayVolume) +
        ",\"dayHigh\":" + json(t.dayHigh) + ",\"dayLow\":" + json(t.dayLow);
    if (t.previousClose != 0)
        line += ",\"previousClose\":" + json(t.previousClose);
    line += ",\"marketHours\":" + json(t.marketHours) + ",\"quoteType\":" + json(t.quoteType) + '}';
    return line;
}

StreamQuotePrinter::StreamQuotePrinter(const QUrl& url, const QStringList& symbols,
                                       velline::Clock* clock, QTextStream& out, QTextStream& err,
                                       QObject* parent)
    : QObject(parent), m_url(url), m_symbols(symbols), m_clock(clock), m_out(out), m_err(err),
      m_socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this)) {
    // A frame above the decoder's limit ends the connection rather than being buffered.
    m_socket->setMaxAllowedIncomingFrameSize(velline::maxStreamFrameBytes);
    m_socket->setMaxAllowedIncomingMessageSize(velline::maxStreamFrameBytes);
    connect(m_socket, &QWebSocket::connected, this, [this] {
        subscribe();
        m_heartbeat = std::make_unique<velline::RepeatingTimer>(m_clock, heartbeatSeconds, this,
                                                                [this] { subscribe(); });
    });
    connect(m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        velline::StreamDecodeError error = velline::StreamDecodeError::none;
        if (const auto tick = velline::decodeStreamFrame(text.toUtf8(), &error)) {
            m_out << streamTickLine(*tick) << '\n';
            m_out.flush();
        } else {
            m_err << "vellinectl quote: skipped a frame: " << describe(error) << '\n';
            m_err.flush();
        }
    });
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this] { finish(ExitFailed, QStringLiteral("stream: ") + m_socket->errorString()); });
    connect(m_socket, &QWebSocket::disconnected, this, [this] {
        const QString reason =
            m_socket->closeReason().isEmpty() ? m_socket->errorString() : m_socket->closeReason();
        finish(ExitFailed, QStringLiteral("the stream closed (code %1%2)")
                               .arg(int(m_socket->closeCode()))
                               .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    });
}

StreamQuotePrinter::~StreamQuotePrinter() = default;

void StreamQuotePrinter::start(std::optional<double> seconds) {
    m_socket->open(m_url);
    m_clock->schedule(connectSeconds, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            finish(ExitFailed, QStringLiteral("no connection to %1 within %2 s")
                                   .arg(m_url.toDisplayString())
                                   .arg(connectSeconds));
    });
    if (seconds)
        m_clock->schedule(*seconds, this, [this] { finish(ExitOk); });
}

void StreamQuotePrinter::subscribe() {
    m_socket->sendTextMessage(QString::fromUtf8(velline::subscribeFrame(m_symbols)));
}

void StreamQuotePrinter::finish(int code, const QString& why) {
    if (m_done)
        return;
    m_done = true;
    m_heartbeat.reset();
    if (!why.isEmpty()) {
        m_err << "vellinectl quote: " << why << '\n';
        m_err.flush();
    }
    m_socket->disconnect(this);
    m_socket->abort();
    Q_EMIT finished(code);
}

} // namespace vellinectl
