#include "feedsim/simulatedmarket.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace velline {

namespace {

std::uint64_t mix(std::uint64_t x) {
    // splitmix64 finaliser
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Uniform in [0, 1) from a seed, a stream tag and an index.
double unit(std::uint64_t seed, std::uint64_t stream, std::int64_t index) {
    const std::uint64_t h =
        mix(seed ^ mix(stream * 0x100000001b3ULL ^ static_cast<std::uint64_t>(index)));
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

double smoothstep(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

// Smooth value noise in [-1, 1] with features about `period` seconds apart.
double noise(std::uint64_t seed, std::uint64_t stream, double t, double period) {
    const double x = t / period;
    const double i = std::floor(x);
    const auto k = static_cast<std::int64_t>(i);
    const double a = unit(seed, stream, k) * 2 - 1;
    const double b = unit(seed, stream, k + 1) * 2 - 1;
    return a + (b - a) * smoothstep(x - i);
}

constexpr double jumpSlot = 240;     // one chance of a jump per symbol per slot
constexpr double jumpChance = 0.09;  // ten symbols: a jump every four or five minutes
constexpr double jumpRise = 40;      // seconds from start to full height
constexpr double jumpHold = 60;      // seconds at full height (from the start)
constexpr double jumpFade = 180;     // seconds until gone again (from the start)
constexpr double surgeChance = 0.04; // bars with a volume surge of their own

enum Stream : std::uint64_t {
    sDay = 1,
    sHour,
    sTenMinutes,
    sTicks,
    sMinute,
    sTenSeconds,
    sJump,
    sJumpAt,
    sJumpSize,
    sJumpSign,
    sVolume,
    sSurge,
    sGap,
    sPrice,
    sDailyVolume,
    sLogo,
};

double roundTo(double value, int decimals) {
    const double f = std::pow(10.0, decimals);
    return std::round(value * f) / f;
}

// The feed reports bar values as 32-bit floats widened to doubles (225.6999969482422).
double asFeedFloat(double value) {
    return static_cast<double>(static_cast<float>(value));
}

} // namespace

SimulatedMarket::Profile SimulatedMarket::profile(const QString& symbol) {
    // FNV-1a over the upper-cased UTF-8 text: stable across runs and platforms.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : symbol.toUpper().toUtf8()) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    Profile p;
    p.seed = mix(h);
    const QString s = symbol.toUpper();
    double low = 12, high = 900;
    if (s.startsWith(QLatin1Char('^'))) {
        p.instrumentType = QStringLiteral("INDEX");
        low = 1500, high = 40000;
    } else if (s.endsWith(QLatin1String("=F"))) {
        p.instrumentType = QStringLiteral("FUTURE");
        low = 20, high = 6000;
    } else if (s.endsWith(QLatin1String("-USD"))) {
        p.instrumentType = QStringLiteral("CRYPTOCURRENCY");
        low = 0.5, high = 70000;
    } else {
        p.instrumentType = QStringLiteral("EQUITY");
    }
    const double u = unit(p.seed, sPrice, 0);
    p.basePrice = low * std::pow(high / low, u);
    p.dailyVolume = 2e6 * std::pow(40.0, unit(p.seed, sDailyVolume, 0));
    return p;
}

std::optional<double> SimulatedMarket::jumpStart(const Profile& p, std::int64_t slot) {
    if (unit(p.seed, sJump, slot) >= jumpChance)
        return std::nullopt;
    return static_cast<double>(slot) * jumpSlot + unit(p.seed, sJumpAt, slot) * jumpSlot / 2;
}

// Percent move of the price at `t` against the symbol's base price.
double SimulatedMarket::pricePercent(const Profile& p, double t) {
    return 0.6 * noise(p.seed, sDay, t, 86400) + 0.4 * noise(p.seed, sHour, t, 3600) +
           0.08 * noise(p.seed, sTenMinutes, t, 600) + 0.07 * noise(p.seed, sMinute, t, 60) +
           0.025 * noise(p.seed, sTenSeconds, t, 10) + 0.03 * noise(p.seed, sTicks, t, 3) +
           jumpPercent(p, t);
}

double SimulatedMarket::jumpPercent(const Profile& p, double t) {
    const auto slot = static_cast<std::int64_t>(std::floor(t / jumpSlot));
    double total = 0;
    // A jump lasts jumpFade seconds, so slots that started up to that long ago still count.
    const auto lookBack = static_cast<std::int64_t>(std::ceil(jumpFade / jumpSlot)) + 1;
    for (std::int64_t k = slot - lookBack; k <= slot; ++k) {
        const auto jump = jumpStart(p, k);
        if (!jump)
            continue;
        const double start = *jump;
        const double age = t - start;
        if (age <= 0 || age >= jumpFade)
            continue;
        const double size = (1.6 + 1.2 * unit(p.seed, sJumpSize, k)) *
                            (unit(p.seed, sJumpSign, k) < 0.5 ? -1.0 : 1.0);
        double shape;
        if (age < jumpRise)
            shape = smoothstep(age / jumpRise);
        else if (age < jumpHold)
            shape = 1;
        else
            shape = 1 - smoothstep((age - jumpHold) / (jumpFade - jumpHold));
        total += size * shape;
    }
    return total;
}

double SimulatedMarket::volumeFactor(const Profile& p, double barStart) {
    const auto bar = static_cast<std::int64_t>(std::floor(barStart / barSeconds));
    double factor = 0.5 + unit(p.seed, sVolume, bar);
    // Heavy trading in any bar where a jump rises or holds.
    const auto firstSlot = static_cast<std::int64_t>(std::floor((barStart - jumpSlot) / jumpSlot));
    const auto lastSlot = static_cast<std::int64_t>(std::floor((barStart + barSeconds) / jumpSlot));
    for (std::int64_t k = firstSlot; k <= lastSlot; ++k) {
        const auto jump = jumpStart(p, k);
        if (!jump)
            continue;
        const double start = *jump;
        if (start < barStart + barSeconds && start + jumpHold > barStart)
            factor *= 9;
    }
    if (unit(p.seed, sSurge, bar) < surgeChance)
        factor *= 12;
    return factor;
}

double SimulatedMarket::priceFor(const Profile& p, double t) {
    return p.basePrice * (1 + pricePercent(p, t) / 100);
}

double SimulatedMarket::priceAt(const QString& symbol, double t) const {
    return priceFor(profile(symbol), t);
}

QList<double> SimulatedMarket::jumpsBetween(const QString& symbol, double from,
                                            double until) const {
    QList<double> out;
    if (symbol.isEmpty() || until < from)
        return out;
    const Profile p = profile(symbol);
    for (auto k = static_cast<std::int64_t>(std::floor(from / jumpSlot)) - 1;
         k <= static_cast<std::int64_t>(std::floor(until / jumpSlot)); ++k) {
        const auto jump = jumpStart(p, k);
        if (!jump)
            continue;
        const double start = *jump;
        if (start >= from && start <= until)
            out.append(start);
    }
    return out;
}

SimSnapshot SimulatedMarket::snapshot(const QString& symbol, double now) const {
    const Profile p = profile(symbol);
    SimSnapshot s;
    s.symbol = symbol.toUpper();
    s.instrumentType = p.instrumentType;
    const int decimals = p.basePrice < 2 ? 5 : 3;
    s.marketTime = std::floor(now);
    s.price = roundTo(priceFor(p, now), decimals);
    s.previousClose = roundTo(priceFor(p, std::floor(now / 86400) * 86400), decimals);

    const double currentBar = std::floor(now / barSeconds) * barSeconds;
    const double perBar = p.dailyVolume / barsPerDay;
    for (int i = barsPerDay - 1; i >= 0; --i) {
        SimBar bar;
        bar.time = currentBar - i * barSeconds;
        const bool forming = i == 0;
        const double end = forming ? now : bar.time + barSeconds;
        const auto index = static_cast<std::int64_t>(bar.time / barSeconds);
        // Now and then a bar has no trades at all (the real feed reports nulls there).
        if (!forming && unit(p.seed, sGap, index) < 0.01) {
            s.bars.append(bar);
            continue;
        }
        double high = priceFor(p, bar.time), low = high;
        for (double t = bar.time + 30; t < end; t += 30) {
            const double v = priceFor(p, t);
            high = std::max(high, v);
            low = std::min(low, v);
        }
        const double close = forming ? s.price : priceFor(p, end);
        high = std::max(high, close);
        low = std::min(low, close);
        bar.open = asFeedFloat(priceFor(p, bar.time));
        bar.high = asFeedFloat(high);
        bar.low = asFeedFloat(low);
        bar.close = asFeedFloat(close);
        const double share = forming ? (now - bar.time) / barSeconds : 1.0;
        bar.volume = static_cast<qint64>(std::llround(perBar * volumeFactor(p, bar.time) * share));
        s.volume += *bar.volume;
        s.bars.append(bar);
    }
    return s;
}

QJsonObject SimulatedMarket::chartResult(const SimSnapshot& s) {
    QJsonArray timestamps, opens, highs, lows, closes, volumes;
    auto value = [](const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(); };
    for (const SimBar& b : s.bars) {
        timestamps.append(static_cast<qint64>(b.time));
        opens.append(value(b.open));
        highs.append(value(b.high));
        lows.append(value(b.low));
        closes.append(value(b.close));
        volumes.append(b.volume ? QJsonValue(*b.volume) : QJsonValue());
    }
    const auto first = static_cast<qint64>(s.bars.first().time);
    const auto end = static_cast<qint64>(s.bars.last().time + barSeconds);
    const QJsonObject period{{QStringLiteral("timezone"), QStringLiteral("UTC")},
                             {QStringLiteral("start"), first},
                             {QStringLiteral("end"), end},
                             {QStringLiteral("gmtoffset"), 0}};
    const QJsonObject meta{
        {QStringLiteral("currency"), QStringLiteral("USD")},
        {QStringLiteral("symbol"), s.symbol},
        {QStringLiteral("exchangeName"), QStringLiteral("SIM")},
        {QStringLiteral("fullExchangeName"), QStringLiteral("Velline Simulated Exchange")},
        {QStringLiteral("instrumentType"), s.instrumentType},
        {QStringLiteral("regularMarketTime"), static_cast<qint64>(s.marketTime)},
        {QStringLiteral("hasPrePostMarketData"), false},
        {QStringLiteral("gmtoffset"), 0},
        {QStringLiteral("timezone"), QStringLiteral("UTC")},
        {QStringLiteral("exchangeTimezoneName"), QStringLiteral("UTC")},
        {QStringLiteral("regularMarketPrice"), s.price},
        {QStringLiteral("regularMarketVolume"), s.volume},
        {QStringLiteral("shortName"), s.symbol + QStringLiteral(" (simulated)")},
        {QStringLiteral("chartPreviousClose"), s.previousClose},
        {QStringLiteral("previousClose"), s.previousClose},
        {QStringLiteral("scale"), 3},
        {QStringLiteral("priceHint"), 2},
        {QStringLiteral("currentTradingPeriod"), QJsonObject{{QStringLiteral("pre"), period},
                                                             {QStringLiteral("regular"), period},
                                                             {QStringLiteral("post"), period}}},
        {QStringLiteral("dataGranularity"), QStringLiteral("5m")},
        {QStringLiteral("range"), QStringLiteral("1d")},
        {QStringLiteral("validRanges"),
         QJsonArray{QStringLiteral("1d"), QStringLiteral("5d"), QStringLiteral("1mo")}},
    };
    const QJsonObject quote{{QStringLiteral("open"), opens},
                            {QStringLiteral("high"), highs},
                            {QStringLiteral("low"), lows},
                            {QStringLiteral("close"), closes},
                            {QStringLiteral("volume"), volumes}};
    return QJsonObject{
        {QStringLiteral("meta"), meta},
        {QStringLiteral("timestamp"), timestamps},
        {QStringLiteral("indicators"), QJsonObject{{QStringLiteral("quote"), QJsonArray{quote}}}},
    };
}

QByteArray SimulatedMarket::chartAnswer(const QString& symbol, double now) const {
    const QJsonObject result = chartResult(snapshot(symbol, now));
    const QJsonObject chart{{QStringLiteral("result"), QJsonArray{result}},
                            {QStringLiteral("error"), QJsonValue()}};
    return QJsonDocument(QJsonObject{{QStringLiteral("chart"), chart}})
        .toJson(QJsonDocument::Compact);
}

QByteArray SimulatedMarket::sparkAnswer(const QStringList& symbols, double now, bool flat) const {
    QJsonArray results;
    QJsonObject byName;
    for (const QString& symbol : symbols) {
        const SimSnapshot s = snapshot(symbol, now);
        QJsonArray timestamps, closes;
        for (const SimBar& b : s.bars) {
            timestamps.append(static_cast<qint64>(b.time));
            closes.append(b.close ? QJsonValue(*b.close) : QJsonValue());
        }
        if (flat) {
            // No meta, no volume: only the closes and the close before the range.
            byName.insert(s.symbol,
                          QJsonObject{{QStringLiteral("symbol"), s.symbol},
                                      {QStringLiteral("timestamp"), timestamps},
                                      {QStringLiteral("close"), closes},
                                      {QStringLiteral("end"), QJsonValue()},
                                      {QStringLiteral("start"), QJsonValue()},
                                      {QStringLiteral("previousClose"), QJsonValue()},
                                      {QStringLiteral("chartPreviousClose"), s.previousClose},
                                      {QStringLiteral("dataGranularity"), 300}});
            continue;
        }
        // The chart envelope with the closes alone among the indicators.
        QJsonObject response = chartResult(s);
        response.insert(QStringLiteral("indicators"),
                        QJsonObject{{QStringLiteral("quote"),
                                     QJsonArray{QJsonObject{{QStringLiteral("close"), closes}}}}});
        results.append(QJsonObject{{QStringLiteral("symbol"), s.symbol},
                                   {QStringLiteral("response"), QJsonArray{response}}});
    }
    const QJsonObject answer =
        flat ? byName
             : QJsonObject{
                   {QStringLiteral("spark"), QJsonObject{{QStringLiteral("result"), results},
                                                         {QStringLiteral("error"), QJsonValue()}}}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

QByteArray SimulatedMarket::sparkNotFoundAnswer() {
    return QByteArrayLiteral(R"({"spark":{"result":null,"error":{"code":"Not Found",)"
                             R"("description":"No data found for spark symbols"}}})");
}

QByteArray SimulatedMarket::notFoundAnswer() {
    return QByteArrayLiteral(R"({"chart":{"result":null,"error":{"code":"Not Found",)"
                             R"("description":"No data found, symbol may be delisted"}}})");
}

QByteArray SimulatedMarket::logoPng(const QString& symbol, int size) {
    const Profile p = profile(symbol);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor fill =
            QColor::fromHsvF(static_cast<float>(unit(p.seed, sLogo, 0)), 0.65f, 0.85f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        const qreal s = size;
        painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.22, s * 0.22);
        painter.setBrush(Qt::white);
        const QRectF inner(s * 0.28, s * 0.28, s * 0.44, s * 0.44);
        switch (static_cast<int>(unit(p.seed, sLogo, 1) * 4)) {
        case 0:
            painter.drawEllipse(inner);
            break;
        case 1: {
            QPainterPath triangle;
            triangle.moveTo(inner.center().x(), inner.top());
            triangle.lineTo(inner.bottomRight());
            triangle.lineTo(inner.bottomLeft());
            triangle.closeSubpath();
            painter.drawPath(triangle);
            break;
        }
        case 2: {
            QPainterPath diamond;
            diamond.moveTo(inner.center().x(), inner.top());
            diamond.lineTo(inner.right(), inner.center().y());
            diamond.lineTo(inner.center().x(), inner.bottom());
            diamond.lineTo(inner.left(), inner.center().y());
            diamond.closeSubpath();
            painter.drawPath(diamond);
            break;
        }
        default:
            painter.drawRoundedRect(inner, s * 0.06, s * 0.06);
            break;
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace velline
