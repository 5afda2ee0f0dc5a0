#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace velline {

// One sample of a price series: a locally taken sample or the start of a feed bar.
struct PricePoint {
    Q_GADGET
    Q_PROPERTY(double time MEMBER time CONSTANT)
    Q_PROPERTY(double price MEMBER price CONSTANT)
    Q_PROPERTY(double volume MEMBER volume CONSTANT)

public:
    double time = 0;   // seconds since 1970-01-01 UTC
    double price = 0;  //
    double volume = 0; // volume traded in the bar; 0 when the feed gives none

    friend bool operator==(const PricePoint&, const PricePoint&) = default;
};

// The live record of one symbol on screen. Plain value: the refresh cycle builds and
// replaces it; views and spike detection read the derived values below, which are computed
// on every read and never cached.
struct Stock {
    Q_GADGET
    Q_PROPERTY(QString symbol MEMBER symbol CONSTANT)
    Q_PROPERTY(double price MEMBER price)
    Q_PROPERTY(double previousClose MEMBER previousClose)
    Q_PROPERTY(double currentVolume MEMBER currentVolume)
    Q_PROPERTY(double avgVolume MEMBER avgVolume)
    Q_PROPERTY(QList<velline::PricePoint> history MEMBER history)
    Q_PROPERTY(QList<velline::PricePoint> intraday MEMBER intraday)
    // Optional fields read as null in QML when absent.
    Q_PROPERTY(QVariant contextTag READ contextTagValue)
    Q_PROPERTY(QVariant lastSpikeAt READ lastSpikeAtValue)
    Q_PROPERTY(double lastUpdate MEMBER lastUpdate)

    Q_PROPERTY(double changePercent READ changePercent)
    Q_PROPERTY(velline::Stock::Direction direction READ direction)
    Q_PROPERTY(QString percentText READ percentText)
    Q_PROPERTY(double windowChangePercent READ windowChangePercent)
    Q_PROPERTY(double tickChangePercent READ tickChangePercent)
    Q_PROPERTY(double volumeRatio READ volumeRatio)
    Q_PROPERTY(QList<int> spikeIndices READ spikeIndices)

public:
    enum class Direction { up, down, flat };
    Q_ENUM(Direction)

    // A move inside +-flatBand percentage points (inclusive) is flat.
    static constexpr double flatBand = 0.05;
    // How long after a spike the record counts as spiking.
    static constexpr double spikeHoldSeconds = 4.0;
    // Span of local samples that windowChangePercent looks back over.
    static constexpr double windowSeconds = 300.0;
    // Bar-to-bar move (percentage points, inclusive) that marks a spike bar.
    static constexpr double spikeBarPercent = 0.4;
    // Number of latest bars that volumeRatio compares with the rest of the day.
    static constexpr int recentBars = 3;

    QString symbol;
    double price = 0;
    double previousClose = 0;
    double currentVolume = 0;
    double avgVolume = 0;       // the chart feed supplies none; stays 0
    QList<PricePoint> history;  // local samples, oldest first
    QList<PricePoint> intraday; // the feed's 5-minute bars of the day, oldest first
    std::optional<QString> contextTag;
    std::optional<double> lastSpikeAt;
    double lastUpdate = 0;

    friend bool operator==(const Stock&, const Stock&) = default;

    // Change against the previous close in percentage points; 0 without a positive close.
    double changePercent() const;
    // up / down outside the flat band, flat inside it or without a positive close.
    Direction direction() const;
    // "+1.23%", "-0.50%", "0.00%".
    QString percentText() const;
    // True for less than spikeHoldSeconds after lastSpikeAt.
    Q_INVOKABLE bool isSpiking(double now) const;
    // Move over the last five minutes of local samples.
    double windowChangePercent() const;
    // Move over the latest bar; falls back to windowChangePercent.
    double tickChangePercent() const;
    // Average volume of the latest bars against the average of the earlier ones; 0 if unknown.
    double volumeRatio() const;
    // Indexes of bars that moved at least spikeBarPercent from the bar before.
    QList<int> spikeIndices() const;

    static QString directionName(Direction d);

private:
    QVariant contextTagValue() const;
    QVariant lastSpikeAtValue() const;
};

} // namespace velline

Q_DECLARE_METATYPE(velline::PricePoint)
Q_DECLARE_METATYPE(velline::Stock)
