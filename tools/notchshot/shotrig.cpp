#include "shotrig.h"

#include "feedsim/feedsimulator.h"
#include "notch/logocache.h"
#include "notch/notchclock.h"

#include <QTest>

#include <QUuid>

#include <cmath>
#include <cstdio>

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

void ShotRig::moveToAfternoon() {
    m_clock.setNow(afternoon);
    m_state->updateSession();
}

ShotRig::Day ShotRig::afternoonDay() {
    Day day;
    day.aapl = daySeries("AAPL", 189.84, 185.10, afternoon, 40, 2.4, 0.42);
    day.aapl.contextTag = QStringLiteral("Earnings");
    day.nvda = daySeries("NVDA", 884.20, 912.80, afternoon, 22, 3.4, -1.15);
    day.msft = daySeries("MSFT", 421.07, 421.0, afternoon, -1, 1.0, 0.01);
    day.tsla = daySeries("TSLA", 241.3, 238.2, afternoon, -1, 1.0, 0.08);
    return day;
}

void ShotRig::useDayAlerts() {
    m_prefs.setPriceAlerts({alert("AAPL", 188, PriceAlert::Direction::above),
                            alert("AAPL", 180, PriceAlert::Direction::below),
                            alert("NVDA", 900, PriceAlert::Direction::below)});
}

QList<Stock> ShotRig::futuresDay(double now) {
    return {daySeries("ES=F", 4783.25, 4770.5, now, -1, 1.0, 0.05),
            daySeries("CL=F", 71.37, 72.24, now, 30, 1.6, -0.2)};
}

void ShotRig::fireCrossAbove(const QString& symbol, double level) {
    AlertEvent event;
    event.id = QUuid::createUuid();
    event.symbol = symbol;
    event.reason = AlertEvent::Reason::priceCross(level, PriceAlert::Direction::above);
    event.direction = Stock::Direction::up;
    event.timestamp = m_clock.now();
    m_state->fireAlert(event);
}

QVariantMap ShotRig::sceneProperties() {
    return {{QStringLiteral("testState"), QVariant::fromValue<QObject*>(m_state.get())},
            {QStringLiteral("testPrefs"), QVariant::fromValue<QObject*>(&m_prefs)}};
}

Stock ShotRig::daySeries(const QString& symbol, double price, double previousClose, double now,
                         int spikeBar, double surge, double lastBarMove) {
    constexpr double sessionStart = sessionOpen - 30 * 60;
    Stock s;
    s.symbol = symbol;
    s.price = price;
    s.previousClose = previousClose;
    s.lastUpdate = now;
    const int bars = static_cast<int>((now - sessionStart) / 300);
    const double beforeLast = price / (1 + lastBarMove / 100);
    const double jump = spikeBar >= 0 ? 0.004 * (price > previousClose ? 1 : -1) : 0;
    double noise = 0;
    for (int i = 0; i + 1 < bars; ++i) {
        const double t = static_cast<double>(i) / (bars - 2);
        noise =
            0.55 * noise + 0.0016 * std::sin(i * 2.3 + symbol.size()) + 0.0011 * std::cos(i * 0.7);
        // Ends at beforeLast: the jump is part of the trend after it, the noise fades out.
        const double trend =
            previousClose + (beforeLast / (1 + jump) - previousClose) * std::pow(t, 0.8);
        double p = trend * (1 + noise * (1 - t));
        if (spikeBar >= 0 && i >= spikeBar)
            p *= 1 + jump;
        const double volume = (i >= bars - 3 ? surge : 1.0) * (9e4 + 2e4 * std::sin(i * 1.3));
        s.intraday.append(PricePoint{sessionStart + 300.0 * i, p, volume});
    }
    s.intraday.append(PricePoint{sessionStart + 300.0 * (bars - 1), price, surge * 9e4});
    return s;
}

void ShotRig::prepareEnvironment(bool newYorkTime) {
    if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    if (newYorkTime && !qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", "America/New_York");
}

bool ShotRig::outputDir(int argc, char** argv, QDir& out) {
    out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (out.exists() || QDir().mkpath(out.path()))
        return true;
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
    return false;
}

PriceAlert ShotRig::alert(const QString& symbol, double level, PriceAlert::Direction direction) {
    PriceAlert a;
    a.id = QUuid::createUuid();
    a.symbol = symbol;
    a.price = level;
    a.direction = direction;
    return a;
}

bool ShotWriter::save(const QString& name, const QImage& image, const QString& error) {
    const QString path = m_out.filePath(m_prefix + name + QStringLiteral(".png"));
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name),
                     qPrintable(error.isEmpty() ? QStringLiteral("no picture") : error));
        ++m_failures;
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace velline::notchshot
