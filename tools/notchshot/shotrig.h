#pragma once

#include "clock/manualclock.h"
#include "market/quotesource.h"
#include "market/stock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QDir>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>

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

    // The card pictures' afternoon: the clock at `afternoon`, the session applied.
    void moveToAfternoon();
    // Their day of four records at `afternoon` (AAPL with earnings and a spike, NVDA falling
    // on heavy volume, MSFT flat, TSLA), and the three price alerts they show.
    struct Day {
        Stock aapl, nvda, msft, tsla;
        QList<Stock> all() const { return {aapl, nvda, msft, tsla}; }
    };
    static Day afternoonDay();
    void useDayAlerts();
    // Two futures records of a night session at `now`.
    static QList<Stock> futuresDay(double now);
    // A price alert on `symbol` crossing `level` upwards fires now.
    void fireCrossAbove(const QString& symbol, double level);
    // What a scene needs of the rig: its watch state and preferences as testState / testPrefs.
    QVariantMap sceneProperties();

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

// Saves the pictures of a run as OUTPUT_DIR/PREFIX + name + ".png", prints each path, and
// counts what could not be made.
class ShotWriter {
public:
    ShotWriter(QDir out, QString prefix = {})
        : m_out(std::move(out)), m_prefix(std::move(prefix)) {}

    // A null image is a failure; `error` says why.
    bool save(const QString& name, const QImage& image, const QString& error = {});
    int failures() const { return m_failures; }
    int exitCode() const { return m_failures == 0 ? 0 : 1; }

private:
    QDir m_out;
    QString m_prefix;
    int m_failures = 0;
};

} // namespace velline::notchshot
