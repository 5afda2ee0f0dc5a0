#pragma once

#include "clock/clock.h"
#include "market/feedbackoff.h"
#include "state/appstate.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

namespace feednote {

// How the notch looks once quotes are stale: the compact trailing text at half strength.
inline constexpr double staleTrailingOpacity = 0.5;

// What the notch knows about the feed at one instant.
struct Situation {
    AppState::FeedStatus status = AppState::FeedStatus::live;
    FeedTrouble trouble = FeedTrouble::none;
    std::optional<double> resumesAt;
    std::optional<double> lastGoodRefresh;
    bool stale = false;
};

// The quiet line under the card's header, empty while quotes are fresh:
//   "The quote feed asked Velline to slow down — retrying in 42 s"   (429 / 503)
//   "The quote feed is having trouble — retrying in 8 s"             (5xx, answers that are not
//   quotes) "Offline — prices from 14:32"                                    (no answer; or no
//   fresh quote) "Offline — no prices yet"                                        (nothing ever
//   arrived)
// The time is local, in the short format of the default locale, with the date in front when
// the prices are from an earlier day. Seconds count up to whole seconds, at least 1.
QString line(const Situation& situation, double now);

// The card's text when it has no record to show: "No tracked stocks" for an empty watch list,
// else the stale line, else "Waiting for quotes…".
QString emptyCardText(bool hasSymbols, const Situation& situation, double now);

} // namespace feednote

// The feed's status as the notch shows it, for QML: `line` under the card's header,
// `emptyText` for a card without records, `trailingOpacity` for the compact trailing view.
// A countdown in the line is kept current once a second while it shows.
//   FeedNoteModel { appState: AppState }
class FeedNoteModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject* appState READ stateObject WRITE setStateObject NOTIFY changed)
    Q_PROPERTY(bool stale READ stale NOTIFY changed)
    Q_PROPERTY(QString line READ line NOTIFY changed)
    Q_PROPERTY(QString emptyText READ emptyText NOTIFY changed)
    Q_PROPERTY(double trailingOpacity READ trailingOpacity NOTIFY changed)

public:
    explicit FeedNoteModel(QObject* parent = nullptr);
    FeedNoteModel(Clock* clock, QObject* parent);
    ~FeedNoteModel() override;

    QObject* stateObject() const;
    void setStateObject(QObject* state);
    void setState(AppState* state);

    bool stale() const { return m_situation.stale; }
    QString line() const { return m_line; }
    QString emptyText() const { return m_emptyText; }
    double trailingOpacity() const { return stale() ? feednote::staleTrailingOpacity : 1.0; }

Q_SIGNALS:
    void changed();

private:
    void recompute();

    Clock* m_clock;
    QPointer<AppState> m_state;
    QList<QMetaObject::Connection> m_connections;
    feednote::Situation m_situation;
    QString m_line;
    QString m_emptyText;
    ScheduledTask m_countdown;
};

} // namespace velline
