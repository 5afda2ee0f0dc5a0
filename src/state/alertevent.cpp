#include "state/alertevent.h"

namespace velline {

QString AlertEvent::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString AlertEvent::reasonName() const {
    return reason.isSpike() ? QStringLiteral("spike") : QStringLiteral("priceCross");
}

QVariant AlertEvent::levelValue() const {
    return reason.isSpike() ? QVariant() : QVariant(reason.level);
}

QVariant AlertEvent::alertDirectionValue() const {
    return reason.isSpike() ? QVariant() : QVariant(PriceAlert::rawValue(reason.direction));
}

} // namespace velline
