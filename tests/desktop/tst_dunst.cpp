// Alert notifications on a real notification server: dunst (Debian's package) on the test's
// private X server and session bus. What dunst keeps in its history is what it was sent.
#include "desktop/alertnotifications.h"
#include "desktop/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

using namespace velline;

namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// dunstctl history: {"data": [[{"summary": {"data": "…"}, "body": {…}, "appname": {…}}, …]]}
QList<QStringList> history() {
    const QJsonObject root =
        QJsonDocument::fromJson(
            run(QStringLiteral("dunstctl"), {QStringLiteral("history")}).toUtf8())
            .object();
    QList<QStringList> entries;
    for (const QJsonValue& item : root.value(QLatin1String("data")).toArray().at(0).toArray()) {
        const QJsonObject o = item.toObject();
        const auto field = [&](const char* name) {
            return o.value(QLatin1String(name)).toObject().value(QLatin1String("data")).toString();
        };
        entries.append({field("appname"), field("summary"), field("body")});
    }
    return entries;
}

} // namespace

class TestDunst : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textsReachDunst() {
        if (QStandardPaths::findExecutable(QStringLiteral("dunst")).isEmpty())
            QSKIP("dunst is not installed (scripts/install-deps.sh installs it)");
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QProcess dunst;
        dunst.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dunst.start(QStringLiteral("dunst"), {});
        QVERIFY(dunst.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     DesktopNotifier::kService),
                                 10000);

        Stock msft;
        msft.symbol = QStringLiteral("MSFT");
        msft.price = 45.70;
        msft.previousClose = 46;
        AlertEvent cross;
        cross.symbol = msft.symbol;
        cross.reason = AlertEvent::Reason::priceCross(45.72, PriceAlert::Direction::below);
        Stock nvda;
        nvda.symbol = QStringLiteral("NVDA");
        nvda.price = 103;
        nvda.previousClose = 100;
        AlertEvent spike;
        spike.symbol = nvda.symbol;

        DesktopNotifier notifier;
        QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
        const AlertNotificationText crossText = alertNotificationText(cross, msft);
        notifier.notify(crossText.summary, crossText.body);
        QVERIFY(delivered.wait(10000));
        QTRY_COMPARE_WITH_TIMEOUT(
            run(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")}),
            QStringLiteral("1"), 10000);
        // The spike replaces the crossing on screen: one Velline notification at a time.
        const AlertNotificationText spikeText = alertNotificationText(spike, nvda);
        notifier.notify(spikeText.summary, spikeText.body);
        QVERIFY(delivered.wait(10000));
        if (!qEnvironmentVariableIsEmpty("VELLINE_DUNST_SHOT")) {
            run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                           qEnvironmentVariable("VELLINE_DUNST_SHOT")});
        }

        run(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        QTRY_VERIFY_WITH_TIMEOUT(!history().isEmpty(), 10000);
        const QList<QStringList> seen = history();
        QCOMPARE(seen.size(), 1); // the crossing was replaced, not piled up
        QCOMPARE(seen.first(),
                 (QStringList{QStringLiteral("Velline"), spikeText.summary, spikeText.body}));
        QCOMPARE(spikeText.summary, QStringLiteral("NVDA spiked +3.0 %"));

        dunst.terminate();
        dunst.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestDunst)
#include "tst_dunst.moc"
