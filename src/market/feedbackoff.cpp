#include "market/feedbackoff.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

bool isRateLimit(int status) {
    return status == 429 || status == 503;
}

double doubled(double first, double ceiling, int streak) {
    // Stops doubling once the ceiling is reached, so a long streak cannot overflow.
    double pause = first;
    for (int i = 1; i < streak && pause < ceiling; ++i)
        pause *= 2;
    return std::min(pause, ceiling);
}

int monthNumber(const QString& name) {
    static const QStringList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return static_cast<int>(months.indexOf(name)) + 1; // 0 when unknown
}

// The three date forms HTTP allows, always in GMT. Read field by field (not through a locale
// format), so the local time zone and its daylight-saving gaps play no part.
std::optional<double> parseHttpDate(const QString& text) {
    static const QRegularExpression imf(QStringLiteral(
        R"(^[A-Z][a-z]{2}, (\d{2}) ([A-Z][a-z]{2}) (\d{4}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    static const QRegularExpression rfc850(QStringLiteral(
        R"(^[A-Z][a-z]+, (\d{2})-([A-Z][a-z]{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) GMT$)"));
    static const QRegularExpression asctime(QStringLiteral(
        R"(^[A-Z][a-z]{2} ([A-Z][a-z]{2}) {1,2}(\d{1,2}) (\d{2}):(\d{2}):(\d{2}) (\d{4})$)"));
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (const auto m = imf.match(text); m.hasMatch()) {
        day = m.captured(1).toInt();
        month = monthNumber(m.captured(2));
        year = m.captured(3).toInt();
        hour = m.captured(4).toInt();
        minute = m.captured(5).toInt();
        second = m.captured(6).toInt();
    } else if (const auto m = rfc850.match(text); m.hasMatch()) {
        day = m.captured(1).toInt();
        month = monthNumber(m.captured(2));
        year = 2000 + m.captured(3).toInt(); // two-digit years are read in this century
        hour = m.captured(4).toInt();
        minute = m.captured(5).toInt();
        second = m.captured(6).toInt();
    } else if (const auto m = asctime.match(text); m.hasMatch()) {
        month = monthNumber(m.captured(1));
        day = m.captured(2).toInt();
        hour = m.captured(3).toInt();
        minute = m.captured(4).toInt();
        second = m.captured(5).toInt();
        year = m.captured(6).toInt();
    } else {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return static_cast<double>(QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

std::optional<double> parseRetryAfter(const QByteArray& value, double now) {
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    if (std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const qulonglong seconds = trimmed.toULongLong(&ok);
        // Too many digits to count is still "a very long time".
        return ok ? static_cast<double>(seconds) : 1e18;
    }
    const auto at = parseHttpDate(QString::fromLatin1(trimmed).simplified());
    if (!at)
        return std::nullopt;
    return std::max(0.0, *at - now);
}

FeedTrouble classifyBatch(const QuoteBatch& batch) {
    for (const SymbolFailure& f : batch.failures) {
        if (isRateLimit(f.failure.httpStatus))
            return FeedTrouble::rateLimited;
    }
    if (!batch.quotes.isEmpty() || batch.failures.isEmpty())
        return FeedTrouble::none;
    bool anyTransport = false;
    bool allTransport = true;
    bool anyServerSide = false;
    for (const SymbolFailure& f : batch.failures) {
        const bool transport =
            f.failure.error == StockError::transport && f.failure.httpStatus == 0;
        anyTransport = anyTransport || transport;
        allTransport = allTransport && transport;
        anyServerSide =
            anyServerSide || f.failure.httpStatus >= 500 || f.failure.error == StockError::decoding;
    }
    if (allTransport)
        return FeedTrouble::offline;
    if (anyServerSide)
        return FeedTrouble::serverError;
    // Only "no such symbol" answers (and perhaps lost requests): the feed itself works.
    return anyTransport ? FeedTrouble::offline : FeedTrouble::none;
}

double FeedBackoff::record(const QuoteBatch& batch) {
    const FeedTrouble trouble = classifyBatch(batch);
    if (trouble == FeedTrouble::none) {
        reset();
        return 0;
    }
    m_streak = trouble == m_trouble ? m_streak + 1 : 1;
    m_trouble = trouble;
    switch (trouble) {
    case FeedTrouble::rateLimited: {
        std::optional<double> asked;
        for (const SymbolFailure& f : batch.failures) {
            if (isRateLimit(f.failure.httpStatus) && f.failure.retryAfter)
                asked = std::max(asked.value_or(0.0), *f.failure.retryAfter);
        }
        if (asked)
            return std::min(*asked, rateLimitMax);
        const double r = m_random ? m_random() : QRandomGenerator::global()->generateDouble();
        const double spread = 1.0 + rateLimitJitter * (2.0 * std::clamp(r, 0.0, 1.0) - 1.0);
        return std::min(doubled(rateLimitFirst, rateLimitMax, m_streak) * spread, rateLimitMax);
    }
    case FeedTrouble::serverError:
        return doubled(serverErrorFirst, serverErrorMax, m_streak);
    case FeedTrouble::offline:
        return doubled(offlineFirst, offlineMax, m_streak);
    case FeedTrouble::none:
        break;
    }
    return 0;
}

void FeedBackoff::reset() {
    m_trouble = FeedTrouble::none;
    m_streak = 0;
}

} // namespace velline
