#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace velline {

// One 5-minute bar as the feed reports it; a bar without trades has no values.
struct SimBar {
    double time = 0; // bar start, seconds since 1970
    std::optional<double> open, high, low, close;
    std::optional<qint64> volume;
};

// What the simulated feed knows about one symbol at one instant.
struct SimSnapshot {
    QString symbol;
    QString instrumentType; // EQUITY, INDEX, FUTURE, CRYPTOCURRENCY
    double price = 0;
    double previousClose = 0;
    qint64 volume = 0;
    double marketTime = 0;
    QList<SimBar> bars; // oldest first, the last one still forming
};

// A deterministic market: every symbol has its own price path, derived from the symbol's
// text alone, so two runs (or two simulators) agree on every value at every instant.
//
// Prices wander a little from second to second around a level that drifts over the day; now
// and then a symbol jumps a few percent within a minute (with heavy volume in those bars) and
// falls back within three minutes; rarely a bar trades on a volume surge of its own.
// The day is the latest 78 five-minute bars, the last one forming; the previous close is the
// price at the most recent midnight UTC.
class SimulatedMarket {
public:
    static constexpr int barsPerDay = 78;
    static constexpr double barSeconds = 300;

    // The price of `symbol` at instant `t`.
    double priceAt(const QString& symbol, double t) const;
    SimSnapshot snapshot(const QString& symbol, double now) const;
    // The feed's JSON answer for a 5-minute, one-day chart request.
    QByteArray chartAnswer(const QString& symbol, double now) const;
    // The multi-symbol answer for `symbols` (all known ones): the v7 shape (a chart-like
    // envelope per symbol, its meta with price, time and day volume, closes only) or, with
    // `flat`, the v8 shape (an object keyed by symbol with timestamps and closes, no meta).
    QByteArray sparkAnswer(const QStringList& symbols, double now, bool flat) const;
    // The feed's 404 body for a symbol it does not know.
    static QByteArray notFoundAnswer();
    // The multi-symbol endpoint's 404 body, when it knows none of the symbols.
    static QByteArray sparkNotFoundAnswer();
    // A square PNG logo: a rounded square in the symbol's colour with a white shape.
    static QByteArray logoPng(const QString& symbol, int size = 128);

    // Instants in [from, until] at which a jump starts for `symbol`, oldest first.
    QList<double> jumpsBetween(const QString& symbol, double from, double until) const;

private:
    // One chart result object (meta, timestamps, indicators).
    static QJsonObject chartResult(const SimSnapshot& s);

    struct Profile {
        std::uint64_t seed;
        double basePrice;
        double dailyVolume;
        QString instrumentType;
    };
    static Profile profile(const QString& symbol);
    static double pricePercent(const Profile& p, double t);
    // When the jump of a slot starts, if that slot has one.
    static std::optional<double> jumpStart(const Profile& p, std::int64_t slot);
    static double jumpPercent(const Profile& p, double t);
    static double volumeFactor(const Profile& p, double barStart);
    static double priceFor(const Profile& p, double t);
};

} // namespace velline
