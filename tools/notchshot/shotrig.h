#pragma once

#include "clock/manualclock.h"
#include "market/quotesource.h"
#include "market/stock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace velline {
class FeedSimulator;
}

namespace velline::notchshot {

// What a screenshot shows, free of the network and the wall clock: a private watch state and
// preferences on virtual time (also the notch views' clock while the rig lives), and company
// logos from a feed simulator on 127.0.0.1. Create the rig before anything uses the shared
// logo cache: it points the cache at the simulator.
class ShotRig {
public:
    // Wednesday 2024-01-10, 10:00 in New York: the regular session is open.
    static constexpr double sessionOpen = 1704898800;
    // The same day at 19:00 New York: after hours.
    static constexpr double evening = 1704931200;
    // The same day at 14:35 New York: most of a trading day of bars.
    static constexpr double afternoon = sessionOpen + 4 * 3600 + 35 * 60;

    // Settings every screenshot program makes before its QGuiApplication exists: twice the
    // size (what a picky eye sees on a sharp screen) unless QT_SCALE_FACTOR is set, and New
    // York time for the chart captions unless TZ is set (pass false to keep the machine's zone).
    static void prepareEnvironment(bool newYorkTime = true);
    // The folder named by the first argument, else the current one; created when missing.
    // Returns false (and says why on stderr) when it cannot be created.
    static bool outputDir(int argc, char** argv, QDir& out);
    // An armed price alert with a fresh id.
    static PriceAlert alert(const QString& symbol, double level, PriceAlert::Direction direction);

    ShotRig();
    ~ShotRig();

    ManualClock& clock() { return m_clock; }
    AppState& state() { return *m_state; }
    UserPreferences& prefs() { return m_prefs; }

    // Replaces the records and the active symbol, as a refresh would.
    void show(const QList<Stock>& stocks, const std::optional<QString>& active);
    // Moves the clock into or out of the session (with the futures option on) and applies it.
    void setAfterHours(bool afterHours);
    // Loads the logos of `symbols` into the shared cache (waits at most a few seconds).
    bool loadLogos(const QStringList& symbols);

    // A record of `symbol` at `price` against `previousClose` whose latest 5-minute bar
    // moved `barMovePercent`.
    Stock stock(const QString& symbol, double price, double previousClose,
                double barMovePercent = 0) const;

    // A day of 5-minute bars from the session's open (09:30 New York on the rig's day) to
    // `now` that wanders from `previousClose` with a little noise, jumps at `spikeBar` (none
    // when negative), trades `surge` times the usual volume in its last three bars and ends at
    // `price` with a latest bar that moved `lastBarMove` percent.
    static Stock daySeries(const QString& symbol, double price, double previousClose, double now,
                           int spikeBar, double surge, double lastBarMove = 0.12);

private:
    class NoQuotes : public QuoteSource {
    public:
        void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {
        }
    };

    QTemporaryDir m_dir;
    QSettings m_settings;
    UserPreferences m_prefs;
    ManualClock m_clock{sessionOpen};
    NoQuotes m_source;
    std::unique_ptr<FeedSimulator> m_logos;
    std::unique_ptr<AppState> m_state;
};

} // namespace velline::notchshot
