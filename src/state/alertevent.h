#pragma once

#include "market/stock.h"
#include "prefs/records.h"

#include <QMetaType>
#include <QString>
#include <QUuid>
#include <QVariant>

namespace velline {

// One fired alert: an automatic spike or a user price level that the price just crossed.
// Every event gets a fresh random id, so views can play each pulse exactly once.
struct AlertEvent {
    Q_GADGET
    Q_PROPERTY(QString id READ idText)
    Q_PROPERTY(QString symbol MEMBER symbol)
    Q_PROPERTY(bool isSpike READ isSpike)
    Q_PROPERTY(QString reasonName READ reasonName)
    // The crossed level and the alert's own direction; null for a spike.
    Q_PROPERTY(QVariant level READ levelValue)
    Q_PROPERTY(QVariant alertDirection READ alertDirectionValue)
    Q_PROPERTY(velline::Stock::Direction direction MEMBER direction)
    Q_PROPERTY(double timestamp MEMBER timestamp)

public:
    struct Reason {
        enum class Kind { priceCross, spike };

        Kind kind = Kind::spike;
        double level = 0;                                               // priceCross only
        PriceAlert::Direction direction = PriceAlert::Direction::above; // priceCross only

        static Reason spike() { return {}; }
        static Reason priceCross(double level, PriceAlert::Direction direction) {
            return {Kind::priceCross, level, direction};
        }
        bool isSpike() const { return kind == Kind::spike; }

        // A spike carries no payload, so any two spikes are equal.
        friend bool operator==(const Reason& a, const Reason& b) {
            if (a.kind != b.kind)
                return false;
            return a.kind == Kind::spike || (a.level == b.level && a.direction == b.direction);
        }
    };

    QUuid id;
    QString symbol;
    Reason reason;
    Stock::Direction direction = Stock::Direction::flat; // the symbol's day move when fired
    double timestamp = 0;                                // the merge time it fired at

    friend bool operator==(const AlertEvent&, const AlertEvent&) = default;

    // Upper-case UUID text without braces.
    QString idText() const;
    bool isSpike() const { return reason.isSpike(); }
    // "spike" or "priceCross".
    QString reasonName() const;
    QVariant levelValue() const;
    // "above" / "below" for a price cross, null for a spike.
    QVariant alertDirectionValue() const;
};

} // namespace velline

Q_DECLARE_METATYPE(velline::AlertEvent)
