#include "quickadd/tickerfilter.h"

namespace velline {

namespace {

bool isTickerCharacter(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'^' || u == u'.' ||
           u == u'-' || u == u'=';
}

} // namespace

QString sanitizeTicker(const QString& text) {
    QString kept;
    kept.reserve(std::min(text.size(), kMaxTickerLength));
    // Upper-casing may turn one character into several (ß into SS); each is judged on its own.
    for (const QChar c : text.toUpper()) {
        if (kept.size() == kMaxTickerLength)
            break;
        if (isTickerCharacter(c))
            kept.append(c);
    }
    return kept;
}

} // namespace velline
