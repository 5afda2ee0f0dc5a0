#pragma once

// QML names for the types of the libraries below the notch content (watch state and quote
// model), which carry no QML module of their own. `import Velline.Notch` brings them in
// together with the preferences (Velline.Prefs).

#include "market/stock.h"
#include "state/alertevent.h"
#include "state/appstate.h"
#include "state/swipedirection.h"

#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// The shared runtime state (AppState::shared(), owned by C++).
struct AppStateForeign {
    Q_GADGET
    QML_FOREIGN(velline::AppState)
    QML_NAMED_ELEMENT(AppState)
    QML_SINGLETON
};

// Read-only records handed to views: stock.price, stock.percentText, event.symbol ...
struct StockForeign {
    Q_GADGET
    QML_FOREIGN(velline::Stock)
    QML_VALUE_TYPE(stock)
};

struct PricePointForeign {
    Q_GADGET
    QML_FOREIGN(velline::PricePoint)
    QML_VALUE_TYPE(pricePoint)
};

struct AlertEventForeign {
    Q_GADGET
    QML_FOREIGN(velline::AlertEvent)
    QML_VALUE_TYPE(alertEvent)
};

} // namespace velline
