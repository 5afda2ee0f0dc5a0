// The quick-add rules without a display: the ticker filter, the panel geometry, and what the
// controller does with typed text, recents and the watch state (the panel itself is
// tst_quickaddpanel's).
#include "clock/manualclock.h"
#include "market/quotesource.h"
#include "prefs/userpreferences.h"
#include "quickadd/quickaddcontroller.h"
#include "quickadd/quickaddgeometry.h"
#include "quickadd/tickerfilter.h"
#include "state/appstate.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace velline;
using namespace Qt::StringLiterals;
namespace geo = velline::quickaddgeometry;

namespace {

constexpr double t0 = 1704898800; // a Wednesday, 10:00 in New York: the session is open

// Answers only when the test says so, like a network that is still busy.
struct FakeSource : QuoteSource {
    void fetchQuotes(const QStringList& symbols, QObject*,
                     std::function<void(QList<Quote>)> done) override {
        calls.append(symbols);
        pending = std::move(done);
    }
    void answerAll() {
        QList<Quote> quotes;
        for (const QString& s : calls.last())
            quotes.append(Quote{s, 10, 10, 0, 0, {}});
        std::exchange(pending, nullptr)(quotes);
    }
    QList<QStringList> calls;
    std::function<void(QList<Quote>)> pending;
};

struct Rig {
    explicit Rig(const QStringList& tracked)
        : settings(dir.filePath(u"v.conf"_s), QSettings::IniFormat), prefs(&settings), clock(t0) {
        prefs.setTrackedSymbols(tracked);
        prefs.setShowFuturesAfterHours(false);
        state = std::make_unique<AppState>(&prefs, &source, &clock, nullptr);
        controller = std::make_unique<QuickAddController>(&prefs, state.get());
    }
    QTemporaryDir dir;
    QSettings settings;
    UserPreferences prefs;
    FakeSource source;
    ManualClock clock;
    std::unique_ptr<AppState> state;
    std::unique_ptr<QuickAddController> controller;
};

} // namespace

class TestQuickAdd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void filter_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const auto row = [](const char* name, const char* typed, const char* kept) {
            QTest::newRow(name) << QString::fromUtf8(typed) << QString::fromUtf8(kept);
        };
        row("share class and a digit", "brk-b 1", "BRK-B1");
        row("futures", "es=f", "ES=F");
        row("index", "^gspc", "^GSPC");
        row("exchange suffix, digits first", "7203.t", "7203.T");
        row("twelve kept", "abcdefghijkl", "ABCDEFGHIJKL");
        row("thirteenth dropped", "abcdefghijklm", "ABCDEFGHIJKL");
        row("dropped characters do not count", "a b c d e f g h i j k l m", "ABCDEFGHIJKL");
        row("other characters", "aapl!@#$%&*()_+/\\\t", "AAPL");
        row("letters outside A-Z", "éöπ", "");
        row("upper-casing that grows", "straße", "STRASSE");
    }
    void filter() {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QCOMPARE(sanitizeTicker(typed), kept);
        // Filtering twice changes nothing.
        QCOMPARE(sanitizeTicker(kept), kept);
    }

    void geometry() {
        // Centred on the available area, its centre 38 % of the way down.
        const QRectF available(1920, 32, 1920, 1048);
        const QRectF frame = geo::placedFrame(available, QSizeF(680, 100));
        QCOMPARE(frame, QRectF(2880 - 340, 32 + 0.38 * 1048 - 50, 680, 100));

        // Never smaller than 560 x 70, at the boundary and either side of it.
        QCOMPARE(geo::clampedSize(QSizeF(559, 69)), QSizeF(560, 70));
        QCOMPARE(geo::clampedSize(QSizeF(560, 70)), QSizeF(560, 70));
        QCOMPARE(geo::clampedSize(QSizeF(561, 71)), QSizeF(561, 71));
        QCOMPARE(geo::placedFrame(available, QSizeF(100, 10)).size(), QSizeF(560, 70));

        // Growing and shrinking keep the top edge and the horizontal centre; zero or negative
        // sizes are ignored.
        const QRectF grown = geo::resizedFrame(frame, QSizeF(700, 330));
        QCOMPARE(grown, QRectF(2880 - 350, frame.top(), 700, 330));
        QCOMPARE(geo::resizedFrame(grown, QSizeF(300, 20)),
                 QRectF(2880 - 280, frame.top(), 560, 70));
        QCOMPARE(geo::resizedFrame(frame, QSizeF(0, 200)), frame);
        QCOMPARE(geo::resizedFrame(frame, QSizeF(300, -1)), frame);
    }

    void queryAndRecents() {
        Rig rig({u"AAPL"_s, u"MSFT"_s});
        QuickAddController& c = *rig.controller;
        QVERIFY(!c.showsRecents()); // nothing added yet

        const QStringList eight{"NVDA", "AAPL", "IBM", "LMT", "META", "PLTR", "MDB", "AVGO"};
        rig.prefs.setRecentlyAdded(eight);
        QVERIFY(c.showsRecents());
        // Six of them, the tracked one marked.
        QStringList rows;
        for (const QVariant& row : c.recentRows())
            rows << row.toMap().value(u"symbol"_s).toString() +
                        (row.toMap().value(u"tracked"_s).toBool() ? u"*"_s : QString());
        QCOMPARE(rows, (QStringList{"NVDA", "AAPL*", "IBM", "LMT", "META", "PLTR"}));

        // One typed character hides the recents; the field only ever holds the filtered text.
        QSignalSpy shows(&c, &QuickAddController::showsRecentsChanged);
        c.setQuery(u"b"_s);
        QCOMPARE(c.query(), u"B"_s);
        QVERIFY(!c.showsRecents());
        QCOMPARE(shows.count(), 1);
        // A dropped character still tells the field to take the filtered text back.
        QSignalSpy query(&c, &QuickAddController::queryChanged);
        c.setQuery(u"B "_s);
        QCOMPARE(c.query(), u"B"_s);
        QCOMPARE(query.count(), 1);
        c.setQuery(QString());
        QVERIFY(c.showsRecents());
        QCOMPARE(shows.count(), 2);

        // Tracking a recent symbol marks its row.
        rig.prefs.setTrackedSymbols({u"NVDA"_s});
        QVERIFY(c.recentRows().first().toMap().value(u"tracked"_s).toBool());
    }

    void submit() {
        Rig rig({u"MSFT"_s});
        QuickAddController& c = *rig.controller;

        // Blank or fully filtered input does nothing.
        for (const QString& nothing : {u"  "_s, u"!!"_s}) {
            c.setQuery(nothing);
            QVERIFY(!c.submit());
        }
        QVERIFY(rig.source.calls.isEmpty());
        QCOMPARE(rig.prefs.trackedSymbols(), QStringList{u"MSFT"_s});

        c.setQuery(u"aapl"_s);
        QSignalSpy added(&c, &QuickAddController::added);
        QVERIFY(c.submit());
        QCOMPARE(added.count(), 1);
        QCOMPARE(rig.prefs.trackedSymbols(), (QStringList{"MSFT", "AAPL"}));
        QCOMPARE(rig.prefs.recentlyAdded(), QStringList{u"AAPL"_s});
        QCOMPARE(rig.state->activeSymbol(), std::optional<QString>(u"AAPL"_s));
        // The refresh started at once and fetches the new symbol.
        QCOMPARE(rig.source.calls.size(), 1);
        QVERIFY(rig.source.calls.last().contains(u"AAPL"_s));
        QCOMPARE(c.query(), QString()); // cleared after a successful add
        rig.source.answerAll();

        // A tracked recent is not added twice; it moves to the front and becomes active.
        rig.prefs.addSymbol(u"IBM"_s);
        rig.clock.runDue();
        if (rig.source.pending)
            rig.source.answerAll();
        c.choose(u"AAPL"_s);
        QCOMPARE(rig.prefs.trackedSymbols(), (QStringList{"MSFT", "AAPL", "IBM"}));
        QCOMPARE(rig.prefs.recentlyAdded().first(), u"AAPL"_s);
        QCOMPARE(rig.state->activeSymbol(), std::optional<QString>(u"AAPL"_s));
    }

    void addWhileARefreshRuns() {
        // A refresh that started before the add fetches the old list; when it ends the new
        // symbol must still be the active one, and it is fetched right away.
        Rig rig({u"MSFT"_s, u"IBM"_s});
        rig.state->refresh();
        QVERIFY(rig.state->isRefreshInFlight());
        QVERIFY(rig.controller->add(u"nvda"_s));
        QCOMPARE(rig.source.calls.size(), 1);
        rig.source.answerAll(); // MSFT and IBM only
        QCOMPARE(rig.state->activeSymbol(), std::optional<QString>(u"NVDA"_s));
        QCOMPARE(rig.source.calls.size(), 2);
        QVERIFY(rig.source.calls.last().contains(u"NVDA"_s));
        rig.source.answerAll();
        QCOMPARE(rig.state->activeSymbol(), std::optional<QString>(u"NVDA"_s));
    }
};

QTEST_MAIN(TestQuickAdd)
#include "tst_quickadd.moc"
