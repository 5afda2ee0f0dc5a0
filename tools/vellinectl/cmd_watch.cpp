// vellinectl watch: the running watch state, one JSON line per published change.
#include "cmd_watch.h"

#include "clock/clock.h"
#include "commands.h"
#include "market/stockservice.h"
#include "market/streamingquotesource.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <functional>
#include <optional>

namespace vellinectl {

using velline::AppState;
using velline::Stock;

namespace {

// One JSON value in compact form (QJsonDocument only writes arrays and objects).
QByteArray json(const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QJsonValue optionalText(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

// An object whose keys keep the given order, so lines read the same way every time.
QByteArray orderedObject(const QList<QPair<QByteArray, QByteArray>>& fields) {
    QByteArray out = "{";
    for (const auto& [key, value] : fields) {
        if (out.size() > 1)
            out += ',';
        out += json(QString::fromLatin1(key)) + ':' + value;
    }
    return out + '}';
}

QByteArray record(const Stock& stock) {
    return orderedObject({
        {"symbol", json(stock.symbol)},
        {"price", json(stock.price)},
        {"previousClose", json(stock.previousClose)},
        {"changePercent", json(stock.changePercent())},
        {"percentText", json(stock.percentText())},
        {"lastSpikeAt", stock.lastSpikeAt ? json(*stock.lastSpikeAt) : QByteArray("null")},
    });
}

} // namespace

WatchPrinter::WatchPrinter(AppState* state, velline::Clock* clock, QTextStream& out,
                           QObject* parent)
    : QObject(parent), m_state(state), m_clock(clock), m_out(out) {
    connect(state, &AppState::stocksChanged, this, &WatchPrinter::printStocks);
    connect(state, &AppState::activeSymbolChanged, this, &WatchPrinter::printActive);
    connect(state, &AppState::alertEventChanged, this, &WatchPrinter::printAlert);
    connect(state, &AppState::feedStatusChanged, this, &WatchPrinter::printFeed);
}

void WatchPrinter::emitLine(const QByteArray& event,
                            const QList<QPair<QByteArray, QByteArray>>& fields) {
    QList<QPair<QByteArray, QByteArray>> all{{"t", json(m_clock->now())},
                                             {"event", json(QString::fromLatin1(event))}};
    all += fields;
    m_out << orderedObject(all) << '\n';
    m_out.flush();
}

void WatchPrinter::printStocks() {
    QByteArray records = "[";
    for (const Stock& stock : m_state->stocks()) {
        if (records.size() > 1)
            records += ',';
        records += record(stock);
    }
    records += ']';
    emitLine("stocks", {{"symbols", json(QJsonArray::fromStringList(m_state->symbols()))},
                        {"afterHours", json(m_state->isAfterHours())},
                        {"records", records}});
}

void WatchPrinter::printActive() {
    emitLine("active",
             {{"symbol", json(optionalText(m_state->activeSymbol()))},
              {"direction", json(velline::swipeDirectionName(m_state->lastSwipeDirection()))}});
}

void WatchPrinter::printAlert() {
    const std::optional<velline::AlertEvent> event = m_state->alertEvent();
    if (!event) {
        emitLine("alertCleared", {});
        return;
    }
    const bool spike = event->isSpike();
    emitLine("alert", {{"id", json(event->idText())},
                       {"symbol", json(event->symbol)},
                       {"reason", json(event->reasonName())},
                       {"level", spike ? QByteArray("null") : json(event->reason.level)},
                       {"alertDirection",
                        spike ? QByteArray("null")
                              : json(velline::PriceAlert::rawValue(event->reason.direction))},
                       {"direction", json(Stock::directionName(event->direction))}});
}

void WatchPrinter::printFeed() {
    const std::optional<double> resumesAt = m_state->feedResumesAt();
    const std::optional<double> lastGood = m_state->lastGoodRefresh();
    const QString reason = m_state->feedTroubleName();
    emitLine("feed", {{"feed", json(m_state->feedStatusName())},
                      {"resumesAt", resumesAt ? json(*resumesAt) : QByteArray("null")},
                      {"reason", reason.isEmpty() ? QByteArray("null") : json(reason)},
                      {"lastGoodRefresh", lastGood ? json(*lastGood) : QByteArray("null")},
                      {"source", json(m_state->feedSourceName())}});
}

namespace {

const QString usage = QStringLiteral(
    "usage: vellinectl watch [--seconds N]\n\n"
    "Runs the watch state on your preferences and the chart feed (refresh every two seconds,\n"
    "carousel, spikes and price alerts) and prints one JSON object per line for every\n"
    "change: stocks, active, alert, alertCleared, and feed when the quote feed's status\n"
    "changes (live, paused or offline, with resumesAt; source: stream or poll). Each line\n"
    "carries \"t\" (Unix seconds).\n"
    "Stops after N seconds (a positive number), or runs until interrupted.");

// Waits in steps of at most a day, so any length of run fits the timer's range.
void quitAt(velline::Clock* clock, double deadline, QEventLoop* loop) {
    const double remaining = deadline - clock->now();
    if (remaining <= 0) {
        loop->quit();
        return;
    }
    clock->schedule(std::min(remaining, 86400.0), loop,
                    [clock, deadline, loop] { quitAt(clock, deadline, loop); });
}

int runWatch(const QStringList& args, Io& io) {
    std::optional<double> seconds;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString value;
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            value = args[++i];
        } else if (args[i].startsWith(QLatin1String("--seconds="))) {
            value = args[i].mid(10);
        } else {
            io.err << "vellinectl watch: unexpected argument '" << args[i] << "'\n"
                   << usage << "\n";
            return ExitUsage;
        }
        seconds = parseSeconds(QStringLiteral("watch"), value, io);
        if (!seconds)
            return ExitUsage;
    }

    velline::Clock* clock = velline::Clock::system();
    // Logos are of no use in a terminal, so none are fetched.
    velline::StreamingQuoteSource& source = AppState::sharedQuoteSource();
    AppState state(&velline::UserPreferences::shared(), &source, clock, {});
    state.watchNetworkReachability();
    source.watchNetworkReachability();
    QObject::connect(&state, &AppState::activeSymbolChanged, &source, [&state, &source] {
        source.setFocusSymbol(state.activeSymbol().value_or(QString()));
    });
    WatchPrinter printer(&state, clock, io.out);
    QEventLoop loop;
    if (seconds)
        quitAt(clock, clock->now() + *seconds, &loop);
    state.start();
    loop.exec();
    return ExitOk;
}

const bool registered = registerCommand({
    QStringLiteral("watch"),
    QStringLiteral("print the live watch state as JSON lines"),
    usage,
    runWatch,
});

} // namespace

} // namespace vellinectl
