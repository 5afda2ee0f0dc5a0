#include "market/streamwire.h"

#include <QTest>

#include <bit>
#include <cmath>
#include <limits>

using namespace velline;

Q_DECLARE_METATYPE(velline::StreamTick)
Q_DECLARE_METATYPE(velline::StreamDecodeError)

namespace {

// Hand-built protocol-buffer pieces, independent of the encoder under test.
QByteArray varint(quint64 v) {
    QByteArray out;
    do {
        out.append(char((v & 0x7f) | (v >= 0x80 ? 0x80 : 0)));
        v >>= 7;
    } while (v);
    return out;
}
const auto key = [](int field, int type) { return varint(quint64(field) << 3 | quint64(type)); };
const auto str = [](int field, const QByteArray& s) {
    return key(field, 2) + varint(s.size()) + s;
};
// A fixed32 (float) or fixed64 (double) field, little-endian.
template <typename T> QByteArray fixed(int field, T value) {
    const auto bits = std::bit_cast<std::conditional_t<sizeof(T) == 4, quint32, quint64>>(value);
    QByteArray out = key(field, sizeof(T) == 4 ? 5 : 1);
    for (size_t i = 0; i < sizeof(T); ++i)
        out.append(char(bits >> (8 * i)));
    return out;
}
const auto sint = [](int field, qint64 v) {
    return key(field, 0) + varint((quint64(v) << 1) ^ quint64(v >> 63));
};
const auto i32 = [](int field, qint64 v) { return key(field, 0) + varint(quint64(v)); };

const QByteArray aapl = str(1, "AAPL");

StreamTick tick(const QString& symbol, double price = 0, int priceHint = -1) {
    return StreamTick{symbol, price, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, priceHint, {}, {}, {}};
}

// Every field set, with values a float carries exactly enough to round back.
const QString appleName = QString::fromUtf8("Apple Inc. \xe2\x80\x94 Common");
const StreamTick fullTick{"AAPL", 232.35, 1733493600000, -1.17,    -0.5, 41234567,
                          233.1,  230.05, 231,           233.52,   1,    8,
                          2,      "USD",  "NMS",         appleName};

} // namespace

class TestStreamWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesHandBuiltRecords_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<StreamTick>("expected");

        QTest::newRow("every field, float32 prices rounded")
            << QByteArray(aapl + fixed(2, 232.35f) + sint(3, 1733493600000) + str(4, "USD") +
                          str(5, "NMS") + i32(6, 8) + i32(7, 1) + fixed(8, -0.5f) +
                          sint(9, 41234567) + fixed(10, 233.1f) + fixed(11, 230.05f) +
                          fixed(12, -1.17f) + str(13, "Apple Inc. \xe2\x80\x94 Common") +
                          fixed(15, 231.0f) + fixed(16, 233.52f) + sint(27, 2))
            << fullTick;
        QTest::newRow("hint after the price it rounds")
            << QByteArray(fixed(2, 1.08347f) + str(1, "EURUSD=X") + sint(27, 4))
            << tick("EURUSD=X", 1.0835, 4);
        QTest::newRow("no hint: two decimals")
            << QByteArray(aapl + fixed(2, 101.126f)) << tick("AAPL", 101.13);
        QTest::newRow("unknown fields of every wire type skipped")
            << QByteArray(aapl + sint(22, -5) + fixed(32, 1e12) + str(18, "AAPL250117C") +
                          fixed(23, 9.5f) + str(99, QByteArray(300, 'x')) + fixed(2, 10.0f))
            << tick("AAPL", 10);
        const qint64 least = std::numeric_limits<qint64>::min();
        const StreamTick negative{"^VIX", 0, -1000, 0, 0, least, 0, 0, 0, 0, 0, -3, -1, {}, {}, {}};
        QTest::newRow("sign-extended int32, negative sint64")
            << QByteArray(str(1, "^VIX") + i32(6, -3) + sint(3, -1000) + sint(9, least))
            << negative;
    }
    void decodesHandBuiltRecords() {
        QFETCH(QByteArray, bytes);
        QFETCH(StreamTick, expected);
        StreamDecodeError error = StreamDecodeError::malformed;
        QCOMPARE(decodePricingData(bytes, &error), std::optional(expected));
        QCOMPARE(error, StreamDecodeError::none);
    }

    void refusesHostileRecords_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<StreamDecodeError>("expected");
        using E = StreamDecodeError;
        QTest::newRow("empty") << QByteArray() << E::noSymbol;
        QTest::newRow("no symbol") << fixed(2, 5.0f) << E::noSymbol;
        QTest::newRow("truncated key") << QByteArray("\x80", 1) << E::malformed;
        QTest::newRow("truncated varint value")
            << QByteArray(aapl + key(3, 0) + "\xff\xff") << E::malformed;
        QTest::newRow("varint of eleven bytes")
            << QByteArray(aapl + key(3, 0) + QByteArray(10, '\xff') + '\x01') << E::malformed;
        QTest::newRow("tenth varint byte above one")
            << QByteArray(aapl + key(3, 0) + QByteArray(9, '\xff') + '\x02') << E::malformed;
        QTest::newRow("length past the end")
            << QByteArray(key(1, 2) + varint(5) + "AAP") << E::malformed;
        QTest::newRow("huge length")
            << QByteArray(key(1, 2) + varint(~0ull >> 1) + "A") << E::malformed;
        QTest::newRow("truncated fixed32")
            << QByteArray(aapl + key(2, 5) + "\x01\x02\x03") << E::malformed;
        QTest::newRow("price as varint")
            << QByteArray(aapl + key(2, 0) + varint(5)) << E::malformed;
        QTest::newRow("group start") << QByteArray(aapl + key(40, 3)) << E::malformed;
        QTest::newRow("field number 0") << QByteArray(aapl + key(0, 0) + varint(1)) << E::malformed;
        QTest::newRow("invalid UTF-8 symbol") << str(1, "AA\xffPL") << E::malformed;
        QTest::newRow("NaN price") << QByteArray(aapl + fixed(2, std::nanf(""))) << E::malformed;
        QTest::newRow("1 MiB") << QByteArray(aapl + str(18, QByteArray(1 << 20, 'x')))
                               << E::tooLarge;
    }
    void refusesHostileRecords() {
        QFETCH(QByteArray, bytes);
        QFETCH(StreamDecodeError, expected);
        StreamDecodeError error = StreamDecodeError::none;
        QVERIFY(!decodePricingData(bytes, &error));
        QCOMPARE(error, expected);
    }

    void decodesFrames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<StreamDecodeError>("expected");
        using E = StreamDecodeError;
        const QByteArray b64 = QByteArray(aapl + fixed(2, 3.5f)).toBase64();
        QTest::newRow("envelope") << "{\"type\":\"pricing\",\"message\":\"" + b64 + "\"}"
                                  << E::none;
        QTest::newRow("bare base64 with newline") << b64 + "\n" << E::none;
        QTest::newRow("empty") << QByteArray() << E::notJson;
        QTest::newRow("cut JSON") << "{\"type\":\"pricing\",\"message\":\"" + b64 << E::notJson;
        QTest::newRow("other type")
            << "{\"type\":\"heartbeat\",\"message\":\"" + b64 + "\"}" << E::notPricing;
        QTest::newRow("array") << QByteArray("[\"" + b64 + "\"]") << E::notPricing;
        QTest::newRow("bad base64 in envelope")
            << QByteArray("{\"message\":\"QU%%\"}") << E::badBase64;
        QTest::newRow("bad bare base64") << QByteArray("not base64!") << E::badBase64;
        QTest::newRow("undecodable record") << QByteArray("{\"message\":\"gA==\"}") << E::malformed;

        // At the size limit the frame is read; one byte over, it is not.
        QByteArray padded = "{\"type\":\"pricing\",\"message\":\"" + b64 + "\"}";
        padded += QByteArray(maxStreamFrameBytes - padded.size(), ' ');
        QTest::newRow("exactly 64 KiB") << padded << E::none;
        QTest::newRow("64 KiB and one byte") << padded + ' ' << E::tooLarge;
    }
    void decodesFrames() {
        QFETCH(QByteArray, frame);
        QFETCH(StreamDecodeError, expected);
        StreamDecodeError error = StreamDecodeError::malformed;
        const std::optional<StreamTick> read = decodeStreamFrame(frame, &error);
        QCOMPARE(error, expected);
        QCOMPARE(read, expected == StreamDecodeError::none ? std::optional(tick("AAPL", 3.5))
                                                           : std::nullopt);
    }

    // What the simulator sends, the client reads back unchanged (values within float precision).
    void roundTrips_data() {
        QTest::addColumn<StreamTick>("tick");
        QTest::newRow("every field") << fullTick;
        QTest::newRow("symbol only") << tick("^GSPC");
        QTest::newRow("price hint 0 kept") << tick("X", 17, 0);
    }
    void roundTrips() {
        QFETCH(StreamTick, tick);
        QCOMPARE(decodePricingData(encodePricingData(tick)), tick);
        QCOMPARE(decodeStreamFrame(encodeStreamFrame(tick)), tick);
        QCOMPARE(decodeStreamFrame(encodePricingData(tick).toBase64()), tick);
    }

    void roundsWithPriceHint_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("hint");
        QTest::addColumn<double>("expected");
        QTest::newRow("float32 widening") << 232.35000610351562 << 2 << 232.35;
        QTest::newRow("absent hint: 2") << 1.23456 << -1 << 1.23;
        QTest::newRow("four decimals") << 1.083470058441162 << 4 << 1.0835;
        QTest::newRow("whole units") << 38123.6 << 0 << 38124.0;
        QTest::newRow("negative") << -1.1699999570846558 << 2 << -1.17;
        QTest::newRow("hint above 12 clamped") << 0.1234567890123456 << 40 << 0.123456789012;
        QTest::newRow("too large to scale") << 1e300 << 2 << 1e300;
    }
    void roundsWithPriceHint() {
        QFETCH(double, value);
        QFETCH(int, hint);
        QFETCH(double, expected);
        QCOMPARE(roundWithPriceHint(value, hint), expected);
    }

    void writesActionFrames() {
        QCOMPARE((subscribeFrame({"AAPL", "ES=F", "A\"B"})),
                 QByteArray("{\"subscribe\":[\"AAPL\",\"ES=F\",\"A\\\"B\"]}"));
        QCOMPARE(unsubscribeFrame({"AAPL"}), QByteArray(R"({"unsubscribe":["AAPL"]})"));
    }

    void readsStreamUrlFromEnvironment_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QUrl>("expected");
        QTest::addColumn<bool>("problem");
        QTest::newRow("empty: no stream") << QByteArray() << QUrl() << false;
        QTest::newRow("blank: no stream") << QByteArray("  ") << QUrl() << false;
        QTest::newRow("local") << QByteArray(" ws://127.0.0.1:8123/?version=2 ")
                               << QUrl("ws://127.0.0.1:8123/?version=2") << false;
        QTest::newRow("http refused") << QByteArray("http://127.0.0.1:1/") << QUrl() << true;
        QTest::newRow("no host") << QByteArray("ws:///x") << QUrl() << true;
    }
    void readsStreamUrlFromEnvironment() {
        QFETCH(QByteArray, value);
        QFETCH(QUrl, expected);
        QFETCH(bool, problem);
        QString why, whyUnset;
        qunsetenv("VELLINE_STREAM_URL"); // unset: the feed's own streamer
        QCOMPARE(streamUrlFromEnvironment(&whyUnset), QUrl(defaultStreamUrl));
        qputenv("VELLINE_STREAM_URL", value);
        QCOMPARE(streamUrlFromEnvironment(&why), expected);
        QCOMPARE(!why.isEmpty(), problem);
        QVERIFY(whyUnset.isEmpty());
        qunsetenv("VELLINE_STREAM_URL");
    }
};

QTEST_GUILESS_MAIN(TestStreamWire)
#include "tst_streamwire.moc"
