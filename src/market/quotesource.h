#pragma once

#include "market/quote.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace velline {

// One symbol that could not be fetched, and why.
struct SymbolFailure {
    QString symbol;
    QuoteFailure failure;
};

// Everything one batch learned: the quotes, in input order, and the failures. `attempted`
// counts the requests that were made; a batch stops early when the feed asks the client to
// slow down, leaving the remaining symbols unrequested (and neither quoted nor failed).
struct QuoteBatch {
    QList<Quote> quotes;
    QList<SymbolFailure> failures;
    int attempted = 0;
};

// Anything that turns symbols into quotes. The refresh cycle depends on this, not on the
// network client, so it can be driven by a fake in tests.
class QuoteSource {
public:
    virtual ~QuoteSource() = default;

    // Quotes for the symbols that succeeded, in input order; failed symbols are left out.
    // `done` runs later on the main thread, once, unless `context` is destroyed first.
    virtual void fetchQuotes(const QStringList& symbols, QObject* context,
                             std::function<void(QList<Quote>)> done) = 0;

    // The same batch with its failures reported. A source that cannot tell failures apart
    // reports only its quotes (every symbol counted as attempted).
    virtual void fetchBatch(const QStringList& symbols, QObject* context,
                            std::function<void(QuoteBatch)> done) {
        const int count = static_cast<int>(symbols.size());
        fetchQuotes(symbols, context, [count, done = std::move(done)](QList<Quote> quotes) {
            done(QuoteBatch{std::move(quotes), {}, count});
        });
    }

    // Where the prices come from now: "stream" while a streaming connection delivers them,
    // "poll" while they are requested.
    virtual QString feedSourceName() const { return QStringLiteral("poll"); }
};

} // namespace velline
