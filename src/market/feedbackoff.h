#pragma once

#include "market/quotesource.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace velline {

// Seconds to wait that a Retry-After header asks for: either a count of seconds or an HTTP
// date (IMF-fixdate, RFC 850 or asctime form), measured from `now` (Unix seconds). Nothing
// for an unreadable value; a date in the past gives 0.
std::optional<double> parseRetryAfter(const QByteArray& value, double now);

// What one batch says about the feed as a whole.
enum class FeedTrouble {
    none,        // the feed answered (symbols it does not know are their own business)
    rateLimited, // 429 or 503: the feed asked the client to slow down
    serverError, // every request failed on the feed's side (5xx, or answers that are not JSON)
    offline,     // no request got an answer at all
};

FeedTrouble classifyBatch(const QuoteBatch& batch);

// How long the refresh cycle leaves the feed alone after a troubled batch. Each kind of
// trouble starts at its first pause and doubles with every further batch of the same kind
// up to its ceiling; a batch without trouble ends the streak.
//   rate limited   the answer's Retry-After (at most 30 minutes), else 60 s doubling to
//                  30 minutes, each pause spread by up to 15 % either way so that clients
//                  blocked together do not all come back in the same second
//   server error   4 s doubling to 60 s
//   offline        2 s doubling to 30 s
class FeedBackoff {
public:
    static constexpr double rateLimitFirst = 60.0;
    static constexpr double rateLimitMax = 1800.0;
    static constexpr double rateLimitJitter = 0.15;
    static constexpr double serverErrorFirst = 4.0;
    static constexpr double serverErrorMax = 60.0;
    static constexpr double offlineFirst = 2.0;
    static constexpr double offlineMax = 30.0;

    // Takes one finished batch into account; returns the pause before the next request,
    // 0 when the feed may be asked again on the normal schedule.
    double record(const QuoteBatch& batch);
    // Where the spread comes from: a number in [0, 1), 0.5 meaning "no spread". The default
    // draws from the system's random generator.
    void setRandom(std::function<double()> random) { m_random = std::move(random); }
    void reset();

    FeedTrouble trouble() const { return m_trouble; }
    int streak() const { return m_streak; }

private:
    FeedTrouble m_trouble = FeedTrouble::none;
    int m_streak = 0;
    std::function<double()> m_random;
};

} // namespace velline
