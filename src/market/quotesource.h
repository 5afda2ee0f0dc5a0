#pragma once

#include "market/quote.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace velline {

// Anything that turns symbols into quotes. The refresh cycle depends on this, not on the
// network client, so it can be driven by a fake in tests.
class QuoteSource {
public:
    virtual ~QuoteSource() = default;

    // Quotes for the symbols that succeeded, in input order; failed symbols are left out.
    // `done` runs later on the main thread, once, unless `context` is destroyed first.
    virtual void fetchQuotes(const QStringList& symbols, QObject* context,
                             std::function<void(QList<Quote>)> done) = 0;
};

} // namespace velline
