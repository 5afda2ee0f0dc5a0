#include "app/demosession.h"

#include "clock/clock.h"
#include "feedsim/feedsimulator.h"
#include "prefs/userpreferences.h"

#include <cmath>

namespace velline {

DemoSession::DemoSession(Clock* clock)
    : m_clock(clock), m_config(QDir::tempPath() + QStringLiteral("/velline-demo-XXXXXX")) {}

DemoSession::~DemoSession() = default;

bool DemoSession::start(QString* error) {
    if (!m_config.isValid()) {
        *error = QStringLiteral("cannot create a folder for the demo settings: %1")
                     .arg(m_config.errorString());
        return false;
    }
    auto simulator = std::make_unique<FeedSimulator>(m_clock);
    if (!simulator->listen(0)) {
        *error = QStringLiteral("cannot start the simulated feed on 127.0.0.1: %1")
                     .arg(simulator->errorString());
        return false;
    }
    m_simulator = std::move(simulator);
    const QByteArray base = m_simulator->baseUrl().toString().toUtf8();
    qputenv("VELLINE_CHART_FEED_URL", base);
    qputenv("VELLINE_LOGO_URL", base);
    // Prices come on the simulator's streamer, on the same port.
    qputenv("VELLINE_STREAM_URL", m_simulator->streamUrl().toString().toUtf8());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    return true;
}

QUrl DemoSession::baseUrl() const {
    return m_simulator ? m_simulator->baseUrl() : QUrl();
}

QString DemoSession::configFolder() const {
    return m_config.path();
}

void DemoSession::seedPreferences() {
    UserPreferences& prefs = UserPreferences::shared();
    prefs.setHoldings({Holding{QStringLiteral("AAPL"), 40}, Holding{QStringLiteral("NVDA"), 25},
                       Holding{QStringLiteral("MSFT"), 12}});
    // Levels just beside the simulated prices, so the alerts are seen to fire.
    const SimulatedMarket& market = m_simulator->market();
    const double now = m_clock->now();
    const auto near = [&](const QString& symbol, double factor) {
        return std::round(market.priceAt(symbol, now) * factor * 100.0) / 100.0;
    };
    prefs.addAlert(QStringLiteral("AAPL"), near(QStringLiteral("AAPL"), 1.002),
                   PriceAlert::Direction::above);
    prefs.addAlert(QStringLiteral("NVDA"), near(QStringLiteral("NVDA"), 0.998),
                   PriceAlert::Direction::below);
}

} // namespace velline
