#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace velline {

class Clock;
class FeedSimulator;

// `velline --demo`: the simulated chart feed and logo service run inside the process on a free
// loopback port, and the program talks to them instead of the network. The demo keeps its
// preferences in a throw-away folder seeded with a small portfolio and two price alerts, so it
// never touches the user's own symbols, holdings or alerts.
//
// start() must run before anything asks for the shared preferences, chart-feed client or logo
// cache: they read their addresses and the settings folder once, when first used.
class DemoSession {
public:
    explicit DemoSession(Clock* clock);
    ~DemoSession();
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    // Starts the simulator and points the process at it. On failure returns false with a
    // message in `error` and changes nothing.
    bool start(QString* error);
    // Writes the demo holdings and alerts into the shared preferences (after start()).
    void seedPreferences();

    QUrl baseUrl() const;
    QString configFolder() const;
    FeedSimulator* simulator() const { return m_simulator.get(); }

private:
    Clock* m_clock;
    std::unique_ptr<FeedSimulator> m_simulator;
    QTemporaryDir m_config;
};

} // namespace velline
