#include "market/streamwire.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velline {

namespace {

enum WireType : quint32 { varint = 0, fixed64 = 1, lengthDelimited = 2, fixed32 = 5 };

// Reads protocol-buffer primitives from a byte range; every read checks the bounds and a
// failed read leaves `ok` false for good.
class Reader {
public:
    explicit Reader(QByteArrayView data)
        : m_p(reinterpret_cast<const quint8*>(data.data())), m_end(m_p + data.size()) {}

    bool atEnd() const { return m_p == m_end; }
    bool ok() const { return m_ok; }

    quint64 readVarint() {
        quint64 value = 0;
        for (int i = 0; i < 10; ++i) {
            if (m_p == m_end)
                return fail();
            const quint8 byte = *m_p++;
            // The tenth byte holds only the 64th bit.
            if (i == 9 && byte > 1)
                return fail();
            value |= quint64(byte & 0x7f) << (7 * i);
            if ((byte & 0x80) == 0)
                return value;
        }
        return fail();
    }

    quint32 readFixed32() {
        quint32 value = 0;
        if (m_end - m_p < 4)
            return quint32(fail());
        for (int i = 0; i < 4; ++i)
            value |= quint32(m_p[i]) << (8 * i);
        m_p += 4;
        return value;
    }

    quint64 readFixed64() {
        quint64 value = 0;
        if (m_end - m_p < 8)
            return fail();
        for (int i = 0; i < 8; ++i)
            value |= quint64(m_p[i]) << (8 * i);
        m_p += 8;
        return value;
    }

    QByteArrayView readBytes() {
        const quint64 length = readVarint();
        if (!m_ok || length > quint64(m_end - m_p)) {
            fail();
            return {};
        }
        const QByteArrayView bytes(reinterpret_cast<const char*>(m_p), qsizetype(length));
        m_p += length;
        return bytes;
    }

    void skip(quint32 wireType) {
        switch (wireType) {
        case varint:
            readVarint();
            break;
        case fixed64:
            readFixed64();
            break;
        case lengthDelimited:
            readBytes();
            break;
        case fixed32:
            readFixed32();
            break;
        default: // groups (3, 4) are not part of this format; 6 and 7 do not exist
            fail();
        }
    }

    quint64 fail() {
        m_ok = false;
        m_p = m_end;
        return 0;
    }

private:
    const quint8* m_p;
    const quint8* m_end;
    bool m_ok = true;
};

qint64 zigzagDecode(quint64 v) {
    return qint64(v >> 1) ^ -qint64(v & 1);
}
quint64 zigzagEncode(qint64 v) {
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

// The float as the shortest decimal that reads back as the same float, so that 232.35f comes
// out as 232.35 rather than 232.35000610351562.
double widenFloat(float f) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, f);
    if (ec != std::errc())
        return double(f);
    double d = 0;
    std::from_chars(text, end, d);
    return d;
}

std::optional<QString> utf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<StreamTick> failWith(StreamDecodeError reason, StreamDecodeError* error) {
    if (error)
        *error = reason;
    return std::nullopt;
}

void putVarint(QByteArray& out, quint64 v) {
    while (v >= 0x80) {
        out.append(char((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.append(char(v));
}

void putKey(QByteArray& out, int field, WireType type) {
    putVarint(out, quint64(field) << 3 | type);
}

void putString(QByteArray& out, int field, const QString& s) {
    if (s.isEmpty())
        return;
    const QByteArray bytes = s.toUtf8();
    putKey(out, field, lengthDelimited);
    putVarint(out, quint64(bytes.size()));
    out.append(bytes);
}

void putFloat(QByteArray& out, int field, double value) {
    if (value == 0)
        return;
    putKey(out, field, fixed32);
    const quint32 bits = std::bit_cast<quint32>(float(value));
    for (int i = 0; i < 4; ++i)
        out.append(char((bits >> (8 * i)) & 0xff));
}

void putSint(QByteArray& out, int field, qint64 value, bool always = false) {
    if (value == 0 && !always)
        return;
    putKey(out, field, varint);
    putVarint(out, zigzagEncode(value));
}

void putInt32(QByteArray& out, int field, int value) {
    if (value == 0)
        return;
    putKey(out, field, varint);
    // int32 negatives are sign-extended to ten bytes on the wire.
    putVarint(out, quint64(qint64(value)));
}

QByteArray actionFrame(const char* action, const QStringList& symbols) {
    QJsonObject frame;
    frame.insert(QLatin1String(action), QJsonArray::fromStringList(symbols));
    return QJsonDocument(frame).toJson(QJsonDocument::Compact);
}

} // namespace

double roundWithPriceHint(double value, int priceHint) {
    if (!std::isfinite(value))
        return value;
    const int decimals = priceHint < 0 ? 2 : std::min(priceHint, 12);
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    if (!std::isfinite(scaled) || std::abs(scaled) >= 0x1p52)
        return value; // already coarser than the hint asks for
    return std::round(scaled) / scale;
}

std::optional<StreamTick> decodePricingData(QByteArrayView protobuf, StreamDecodeError* error) {
    if (error)
        *error = StreamDecodeError::none;
    if (protobuf.size() > maxStreamFrameBytes)
        return failWith(StreamDecodeError::tooLarge, error);

    StreamTick tick;
    // Prices arrive before the hint that rounds them may; they are rounded at the end.
    float price = 0, change = 0, changePercent = 0, dayHigh = 0, dayLow = 0, open = 0,
          previousClose = 0;
    qint64 priceHint = -1;
    bool textOk = true;

    Reader in(protobuf);
    while (!in.atEnd()) {
        const quint64 key = in.readVarint();
        const quint64 field = key >> 3;
        const quint32 type = quint32(key & 7);
        if (!in.ok() || field == 0 || field > 0x1fffffff)
            return failWith(StreamDecodeError::malformed, error);

        auto expect = [&](WireType wanted) {
            if (type != wanted)
                in.fail();
            return type == wanted;
        };
        auto text = [&](QString& into) {
            if (!expect(lengthDelimited))
                return;
            const QByteArrayView bytes = in.readBytes();
            if (!in.ok())
                return;
            if (std::optional<QString> s = utf8(bytes))
                into = std::move(*s);
            else
                textOk = false;
        };
        auto real = [&](float& into) {
            if (expect(fixed32))
                into = std::bit_cast<float>(in.readFixed32());
        };
        auto sint = [&](qint64& into) {
            if (expect(varint))
                into = zigzagDecode(in.readVarint());
        };
        auto int32 = [&](int& into) {
            // int32 is written as a sign-extended varint; the low 32 bits are the value.
            if (expect(varint))
                into = int(qint32(quint32(in.readVarint() & 0xffffffffu)));
        };

        switch (field) {
        case 1:
            text(tick.symbol);
            break;
        case 2:
            real(price);
            break;
        case 3:
            sint(tick.timeMs);
            break;
        case 4:
            text(tick.currency);
            break;
        case 5:
            text(tick.exchange);
            break;
        case 6:
            int32(tick.quoteType);
            break;
        case 7:
            int32(tick.marketHours);
            break;
        case 8:
            real(changePercent);
            break;
        case 9:
            sint(tick.dayVolume);
            break;
        case 10:
            real(dayHigh);
            break;
        case 11:
            real(dayLow);
            break;
        case 12:
            real(change);
            break;
        case 13:
            text(tick.shortName);
            break;
        case 15:
            real(open);
            break;
        case 16:
            real(previousClose);
            break;
        case 27:
            sint(priceHint);
            break;
        default:
            in.skip(type);
        }
        if (!in.ok() || !textOk)
            return failWith(StreamDecodeError::malformed, error);
    }

    for (float f : {price, change, changePercent, dayHigh, dayLow, open, previousClose})
        if (!std::isfinite(f))
            return failWith(StreamDecodeError::malformed, error);
    if (tick.symbol.trimmed().isEmpty())
        return failWith(StreamDecodeError::noSymbol, error);

    tick.priceHint = priceHint < 0 ? -1 : int(std::min<qint64>(priceHint, 12));
    const auto rounded = [&](float f) { return roundWithPriceHint(widenFloat(f), tick.priceHint); };
    tick.price = rounded(price);
    tick.change = rounded(change);
    tick.dayHigh = rounded(dayHigh);
    tick.dayLow = rounded(dayLow);
    tick.openPrice = rounded(open);
    tick.previousClose = rounded(previousClose);
    tick.changePercent = widenFloat(changePercent);
    return tick;
}

std::optional<StreamTick> decodeStreamFrame(QByteArrayView frame, StreamDecodeError* error) {
    if (error)
        *error = StreamDecodeError::none;
    if (frame.size() > maxStreamFrameBytes)
        return failWith(StreamDecodeError::tooLarge, error);
    const QByteArrayView trimmed = frame.trimmed();
    if (trimmed.isEmpty())
        return failWith(StreamDecodeError::notJson, error);

    QByteArrayView encoded = trimmed;
    QByteArray message; // keeps the envelope's text alive
    if (trimmed.front() == '{' || trimmed.front() == '[') {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(trimmed.toByteArray(), &parseError);
        if (parseError.error != QJsonParseError::NoError)
            return failWith(StreamDecodeError::notJson, error);
        const QJsonObject object = doc.object();
        const QJsonValue type = object.value(QLatin1String("type"));
        const QJsonValue body = object.value(QLatin1String("message"));
        if (!doc.isObject() || !body.isString() ||
            !(type.isUndefined() || type.toString() == QLatin1String("pricing")))
            return failWith(StreamDecodeError::notPricing, error);
        message = body.toString().toLatin1();
        encoded = message;
    }

    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        encoded.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return failWith(StreamDecodeError::badBase64, error);
    return decodePricingData(*decoded, error);
}

QByteArray encodePricingData(const StreamTick& tick) {
    QByteArray out;
    putString(out, 1, tick.symbol);
    putFloat(out, 2, tick.price);
    putSint(out, 3, tick.timeMs);
    putString(out, 4, tick.currency);
    putString(out, 5, tick.exchange);
    putInt32(out, 6, tick.quoteType);
    putInt32(out, 7, tick.marketHours);
    putFloat(out, 8, tick.changePercent);
    putSint(out, 9, tick.dayVolume);
    putFloat(out, 10, tick.dayHigh);
    putFloat(out, 11, tick.dayLow);
    putFloat(out, 12, tick.change);
    putString(out, 13, tick.shortName);
    putFloat(out, 15, tick.openPrice);
    putFloat(out, 16, tick.previousClose);
    if (tick.priceHint >= 0)
        putSint(out, 27, tick.priceHint, true);
    return out;
}

QByteArray encodeStreamFrame(const StreamTick& tick) {
    return R"({"type":"pricing","message":")" + encodePricingData(tick).toBase64() + R"("})";
}

QByteArray subscribeFrame(const QStringList& symbols) {
    return actionFrame("subscribe", symbols);
}

QByteArray unsubscribeFrame(const QStringList& symbols) {
    return actionFrame("unsubscribe", symbols);
}

QUrl streamUrlFromEnvironment(QString* problem) {
    if (problem)
        problem->clear();
    if (!qEnvironmentVariableIsSet("VELLINE_STREAM_URL"))
        return QUrl(QString::fromLatin1(defaultStreamUrl));
    const QString text = qEnvironmentVariable("VELLINE_STREAM_URL").trimmed();
    if (text.isEmpty())
        return {};
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("ws") && scheme != QLatin1String("wss"))) {
        if (problem)
            *problem =
                QStringLiteral("VELLINE_STREAM_URL is not a ws:// or wss:// address: ") + text;
        return {};
    }
    return url;
}

} // namespace velline
