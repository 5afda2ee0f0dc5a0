// vellinectl quote: one chart-feed request per symbol, printed as JSON lines.
#include "commands.h"
#include "market/stockservice.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace vellinectl {

namespace {

// One JSON value in compact form (QJsonDocument only writes arrays and objects).
QByteArray json(const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

// The quote with its keys in a fixed order.
QByteArray quoteLine(const velline::Quote& q) {
    QByteArray bars = "[";
    for (const velline::PricePoint& p : q.intraday) {
        if (bars.size() > 1)
            bars += ',';
        bars += '[' + json(p.time) + ',' + json(p.price) + ',' + json(p.volume) + ']';
    }
    bars += ']';
    return "{\"symbol\":" + json(q.symbol) + ",\"price\":" + json(q.price) +
           ",\"previousClose\":" + json(q.previousClose) + ",\"volume\":" + json(q.volume) +
           ",\"avgVolume\":" + json(q.avgVolume) + ",\"intraday\":" + bars + '}';
}

const QString usage = QStringLiteral(
    "usage: vellinectl quote SYMBOL...\n\n"
    "Asks the chart feed for each symbol in turn and prints one JSON object per quote:\n"
    "  {\"symbol\",\"price\",\"previousClose\",\"volume\",\"avgVolume\",\n"
    "   \"intraday\":[[unixSeconds,price,volume],...]}\n"
    "Failures go to stderr as 'SYMBOL: REASON detail' (REASON is invalidURL, badResponse,\n"
    "noData, decoding or transport).\n"
    "Exit status: 0 when every symbol succeeded, 2 when any failed, 64 on wrong arguments.\n"
    "The feed address is VELLINE_CHART_FEED_URL, else https://query1.finance.yahoo.com.");

int run(const QStringList& args, Io& io) {
    if (args.isEmpty()) {
        io.err << "vellinectl quote: no symbol given\n" << usage << "\n";
        return ExitUsage;
    }
    for (const QString& symbol : args) {
        if (symbol.trimmed().isEmpty()) {
            io.err << "vellinectl quote: empty symbol\n";
            return ExitUsage;
        }
        if (symbol.startsWith(QLatin1Char('-'))) {
            io.err << "vellinectl quote: unknown option '" << symbol << "'\n";
            return ExitUsage;
        }
    }

    velline::StockService& service = velline::StockService::shared();
    QEventLoop loop;
    bool allOk = true;
    qsizetype next = 0;
    // One symbol at a time, printed as soon as it is known.
    std::function<void()> fetchNext = [&] {
        if (next == args.size()) {
            loop.quit();
            return;
        }
        const QString symbol = args[next++];
        service.fetchQuote(symbol, &loop, [&, symbol](velline::QuoteResult result) {
            if (result.ok()) {
                io.out << quoteLine(result.quote()) << '\n';
                io.out.flush();
            } else {
                allOk = false;
                io.err << symbol << ": " << result.describe() << '\n';
                io.err.flush();
            }
            fetchNext();
        });
    };
    fetchNext();
    loop.exec();
    return allOk ? ExitOk : ExitPartial;
}

const bool registered = registerCommand({
    QStringLiteral("quote"),
    QStringLiteral("fetch quotes from the chart feed as JSON lines"),
    usage,
    run,
});

} // namespace

} // namespace vellinectl
