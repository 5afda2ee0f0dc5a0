// vellinectl quote: one chart-feed request per symbol, printed as JSON lines; with --stream,
// the streamer's records as they come.
#include "clock/clock.h"
#include "cmd_quotestream.h"
#include "commands.h"
#include "market/stockservice.h"
#include "market/streamwire.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <optional>

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
    "usage: vellinectl quote SYMBOL...\n"
    "       vellinectl quote --stream [--seconds N] SYMBOL...\n\n"
    "Asks the chart feed for each symbol in turn and prints one JSON object per quote:\n"
    "  {\"symbol\",\"price\",\"previousClose\",\"volume\",\"avgVolume\",\n"
    "   \"intraday\":[[unixSeconds,price,volume],...]}\n"
    "Failures go to stderr as 'SYMBOL: REASON detail' (REASON is invalidURL, badResponse,\n"
    "noData, decoding or transport).\n"
    "Exit status: 0 when every symbol succeeded, 2 when any failed, 64 on wrong arguments.\n"
    "The feed address is VELLINE_CHART_FEED_URL, else https://query1.finance.yahoo.com.\n\n"
    "With --stream, subscribes to the symbols (at most 100) on the feed's streamer and prints\n"
    "each record it pushes as one JSON object:\n"
    "  {\"symbol\",\"price\",\"time\" (ISO 8601, UTC),\"timeMs\",\"change\",\"changePercent\",\n"
    "   \"dayVolume\",\"dayHigh\",\"dayLow\",\"previousClose\" (when sent),\"marketHours\",\n"
    "   \"quoteType\"}\n"
    "The first record of each symbol is the streamer's last snapshot, which can be old.\n"
    "Stops after N seconds (exit 0), or runs until interrupted; exit 1 when the stream cannot\n"
    "be opened or is lost. The streamer's address is VELLINE_STREAM_URL, else\n"
    "wss://streamer.finance.yahoo.com/?version=2 (set but empty: no stream).");

int runStream(QStringList args, Io& io) {
    std::optional<double> seconds;
    QStringList symbols;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString value;
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            value = args[++i];
        } else if (args[i].startsWith(QLatin1String("--seconds="))) {
            value = args[i].mid(10);
        } else if (args[i].startsWith(QLatin1Char('-'))) {
            io.err << "vellinectl quote: unknown option '" << args[i] << "'\n";
            return ExitUsage;
        } else if (args[i].trimmed().isEmpty()) {
            io.err << "vellinectl quote: empty symbol\n";
            return ExitUsage;
        } else {
            if (!symbols.contains(args[i].trimmed()))
                symbols.append(args[i].trimmed());
            continue;
        }
        seconds = parseSeconds(QStringLiteral("quote"), value, io);
        if (!seconds)
            return ExitUsage;
    }
    if (symbols.isEmpty()) {
        io.err << "vellinectl quote: no symbol given\n" << usage << "\n";
        return ExitUsage;
    }
    if (symbols.size() > 100) {
        io.err << "vellinectl quote: the streamer takes at most 100 symbols\n";
        return ExitUsage;
    }
    QString problem;
    const QUrl url = velline::streamUrlFromEnvironment(&problem);
    if (url.isEmpty()) {
        io.err << "vellinectl quote: "
               << (problem.isEmpty() ? QStringLiteral("no stream (VELLINE_STREAM_URL is empty)")
                                     : problem)
               << '\n';
        return ExitFailed;
    }
    QEventLoop loop;
    StreamQuotePrinter printer(url, symbols, velline::Clock::system(), io.out, io.err);
    int code = ExitFailed;
    QObject::connect(&printer, &StreamQuotePrinter::finished, &loop, [&](int c) {
        code = c;
        loop.quit();
    });
    printer.start(seconds);
    loop.exec();
    return code;
}

int run(const QStringList& args, Io& io) {
    if (args.contains(QStringLiteral("--stream"))) {
        QStringList rest = args;
        rest.removeAll(QStringLiteral("--stream"));
        return runStream(rest, io);
    }
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
    QStringLiteral("fetch quotes from the chart feed (or its streamer) as JSON lines"),
    usage,
    run,
});

} // namespace

} // namespace vellinectl
