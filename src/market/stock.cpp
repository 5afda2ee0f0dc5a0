#include "market/stock.h"

#include <cmath>

namespace velline {

namespace {
double percentMove(double from, double to) {
    return (to - from) / from * 100.0;
}
} // namespace

double Stock::changePercent() const {
    if (previousClose > 0)
        return percentMove(previousClose, price);
    return 0;
}

Stock::Direction Stock::direction() const {
    if (!(previousClose > 0))
        return Direction::flat;
    const double p = changePercent();
    if (p > flatBand)
        return Direction::up;
    if (p < -flatBand)
        return Direction::down;
    return Direction::flat;
}

QString Stock::percentText() const {
    const double p = changePercent();
    return (p > 0 ? QStringLiteral("+") : QString()) + QString::asprintf("%.2f", p) +
           QLatin1Char('%');
}

bool Stock::isSpiking(double now) const {
    return lastSpikeAt.has_value() && now - *lastSpikeAt < spikeHoldSeconds;
}

double Stock::windowChangePercent() const {
    if (history.isEmpty())
        return 0;
    const PricePoint& last = history.last();
    // History is in time order, so the first qualifying point is the oldest one inside the
    // window. The last point always qualifies.
    const PricePoint* reference = &last;
    for (const PricePoint& p : history) {
        if (last.time - p.time <= windowSeconds) {
            reference = &p;
            break;
        }
    }
    if (reference->price > 0)
        return percentMove(reference->price, last.price);
    return 0;
}

double Stock::tickChangePercent() const {
    const qsizetype n = intraday.size();
    if (n < 2)
        return windowChangePercent();
    const double prev = intraday[n - 2].price;
    if (prev > 0)
        return percentMove(prev, intraday[n - 1].price);
    return windowChangePercent();
}

double Stock::volumeRatio() const {
    const qsizetype n = intraday.size();
    if (n < recentBars + 1)
        return 0;
    const qsizetype split = n - recentBars;
    double earlier = 0;
    for (qsizetype i = 0; i < split; ++i)
        earlier += intraday[i].volume;
    double recent = 0;
    for (qsizetype i = split; i < n; ++i)
        recent += intraday[i].volume;
    const double averageEarlier = earlier / static_cast<double>(split);
    if (averageEarlier > 0)
        return (recent / recentBars) / averageEarlier;
    return 0;
}

QList<int> Stock::spikeIndices() const {
    QList<int> result;
    for (qsizetype i = 1; i < intraday.size(); ++i) {
        const double prev = intraday[i - 1].price;
        if (prev > 0 && std::abs(percentMove(prev, intraday[i].price)) >= spikeBarPercent)
            result.append(static_cast<int>(i));
    }
    return result;
}

QString Stock::directionName(Direction d) {
    switch (d) {
    case Direction::up:
        return QStringLiteral("up");
    case Direction::down:
        return QStringLiteral("down");
    case Direction::flat:
        break;
    }
    return QStringLiteral("flat");
}

QVariant Stock::contextTagValue() const {
    return contextTag ? QVariant(*contextTag) : QVariant();
}

QVariant Stock::lastSpikeAtValue() const {
    return lastSpikeAt ? QVariant(*lastSpikeAt) : QVariant();
}

} // namespace velline
