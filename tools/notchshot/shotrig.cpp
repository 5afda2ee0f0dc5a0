#include "shotrig.h"

#include "feedsim/feedsimulator.h"
#include "notch/logocache.h"
#include "notch/notchclock.h"

#include <QTest>

namespace velline::notchshot {

ShotRig::ShotRig()
    : m_settings(m_dir.filePath(QStringLiteral("notchshot.conf")), QSettings::IniFormat),
      m_prefs(&m_settings), m_logos(std::make_unique<FeedSimulator>(Clock::system())) {
    if (m_logos->listen(0))
        qputenv("VELLINE_LOGO_URL", m_logos->baseUrl().toString().toUtf8());
    setNotchClock(&m_clock);
    m_prefs.setShowFuturesAfterHours(true);
    m_state = std::make_unique<AppState>(&m_prefs, &m_source, &m_clock, nullptr);
}

ShotRig::~ShotRig() {
    setNotchClock(nullptr);
}

void ShotRig::show(const QList<Stock>& stocks, const std::optional<QString>& active) {
    m_state->setStocks(stocks);
    m_state->setActiveSymbol(active);
}

void ShotRig::setAfterHours(bool afterHours) {
    m_clock.setNow(afterHours ? evening : sessionOpen);
    m_state->updateSession();
}

bool ShotRig::loadLogos(const QStringList& symbols) {
    LogoCache& cache = LogoCache::shared();
    for (const QString& s : symbols)
        cache.prefetch(s);
    return QTest::qWaitFor(
        [&] {
            return std::all_of(symbols.begin(), symbols.end(),
                               [&](const QString& s) { return cache.hasLogo(s); });
        },
        5000);
}

Stock ShotRig::stock(const QString& symbol, double price, double previousClose,
                     double barMovePercent) const {
    Stock s;
    s.symbol = symbol;
    s.price = price;
    s.previousClose = previousClose;
    const double start = m_clock.now() - 3600;
    for (int i = 0; i < 11; ++i)
        s.intraday.append(
            PricePoint{start + i * 300, previousClose + (price - previousClose) * i / 12, 1e5});
    const double last = price / (1 + barMovePercent / 100);
    s.intraday.append(PricePoint{start + 11 * 300, last, 1e5});
    s.intraday.append(PricePoint{start + 12 * 300, price, 1e5});
    s.lastUpdate = m_clock.now();
    return s;
}

} // namespace velline::notchshot
