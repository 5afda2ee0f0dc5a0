#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

#include <optional>

namespace velline {

// One price record pushed by the feed's streamer (a protocol-buffer PricingData message).
// Numeric fields read 0 when the record leaves them out (the wire format cannot tell an absent
// number from a zero); a price of 0 therefore means "no price in this record".
struct StreamTick {
    QString symbol;                        // field 1
    double price = 0;                      // field 2, rounded with priceHint (2 decimals if absent)
    qint64 timeMs = 0;                     // field 3, epoch ms
    double change = 0;                     // 12
    double changePercent = 0;              // 8
    qint64 dayVolume = 0;                  // 9
    double dayHigh = 0, dayLow = 0;        // 10, 11
    double openPrice = 0;                  // 15
    double previousClose = 0;              // 16 (0 when absent)
    int marketHours = 0;                   // 7: 0 pre (or absent), 1 regular, 2 post, 3 extended
    int quoteType = 0;                     // 6: 8 equity, 9 index, 18 future, 41 crypto, ...
    int priceHint = -1;                    // 27, -1 when absent
    QString currency, exchange, shortName; // 4, 5, 13
    friend bool operator==(const StreamTick&, const StreamTick&) = default;
};

enum class StreamDecodeError {
    none,
    notJson,
    notPricing,
    badBase64,
    malformed,
    noSymbol,
    tooLarge
};

// Frames above this size are never decoded; a client closes the connection on one.
constexpr qsizetype maxStreamFrameBytes = 64 * 1024;

// A text frame {"type":"pricing","message":"<base64>"}, or a bare base64 text (old streamer).
// Nothing on failure, with the reason in `error`.
std::optional<StreamTick> decodeStreamFrame(QByteArrayView frame,
                                            StreamDecodeError* error = nullptr);
// The protocol-buffer record itself. Unknown fields are skipped by their wire type; a record
// that is cut short, gives a known field the wrong wire type, carries invalid UTF-8 in a text
// field or a non-finite number, or has no symbol, is refused as a whole.
std::optional<StreamTick> decodePricingData(QByteArrayView protobuf,
                                            StreamDecodeError* error = nullptr);

// The record as the streamer sends it: prices as 32-bit floats, zero fields left out.
QByteArray encodePricingData(const StreamTick& tick);
// The JSON envelope around the base64 record, compact.
QByteArray encodeStreamFrame(const StreamTick& tick);
// {"subscribe":[...]} and {"unsubscribe":[...]}, compact JSON. The symbols are written as
// given; choosing which the streamer accepts is the caller's business.
QByteArray subscribeFrame(const QStringList& symbols);
QByteArray unsubscribeFrame(const QStringList& symbols);

// The value rounded to priceHint decimals (2 when the hint is negative, at most 12).
double roundWithPriceHint(double value, int priceHint);

// The streamer's public address.
inline constexpr char defaultStreamUrl[] = "wss://streamer.finance.yahoo.com/?version=2";
// VELLINE_STREAM_URL when set, else defaultStreamUrl. Set but empty means "no stream": the
// result is an empty URL. A value that is not a ws:// or wss:// address with a host also gives
// an empty URL, with the reason in `problem`.
QUrl streamUrlFromEnvironment(QString* problem = nullptr);

} // namespace velline
