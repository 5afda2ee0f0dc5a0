// velline-cardshot: renders the expanded card in its typical states to PNG files, on virtual
// time and with logos from a local simulator (no network).
//   velline-cardshot [OUTPUT_DIR]     (default: the current directory)
// The chart's times read in the machine's time zone; New York unless TZ is set.

#include "scenerenderer.h"
#include "shotrig.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <cmath>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;
using namespace velline::notchshot;

namespace {} // namespace

int main(int argc, char** argv) {
    ShotRig::prepareEnvironment();
    SceneRenderer::useSoftwareRenderer();
    QGuiApplication app(argc, argv);
    QDir out;
    if (!ShotRig::outputDir(argc, argv, out))
        return 1;

    ShotRig rig;
    SceneRenderer renderer;
    QFile sceneFile(QStringLiteral(":/notchshot/cardscene.qml"));
    sceneFile.open(QIODevice::ReadOnly);
    const QByteArray scene = sceneFile.readAll();
    const QVariantMap props{{"testState", QVariant::fromValue<QObject*>(&rig.state())},
                            {"testPrefs", QVariant::fromValue<QObject*>(&rig.prefs())}};
    if (!rig.loadLogos({"AAPL", "NVDA", "MSFT", "TSLA"}))
        std::fprintf(stderr, "logos did not arrive; placeholders are shown\n");

    auto atAfternoon = [&] {
        rig.clock().setNow(ShotRig::afternoon);
        rig.state().updateSession();
    };
    atAfternoon();
    Stock aapl = ShotRig::daySeries("AAPL", 189.84, 185.10, ShotRig::afternoon, 40, 2.4, 0.42);
    aapl.contextTag = QStringLiteral("Earnings");
    const Stock nvda =
        ShotRig::daySeries("NVDA", 884.20, 912.80, ShotRig::afternoon, 22, 3.4, -1.15);
    const Stock msft = ShotRig::daySeries("MSFT", 421.07, 421.0, ShotRig::afternoon, -1, 1.0, 0.01);
    const Stock tsla = ShotRig::daySeries("TSLA", 241.3, 238.2, ShotRig::afternoon, -1, 1.0, 0.08);
    rig.prefs().setPriceAlerts({ShotRig::alert("AAPL", 188, PriceAlert::Direction::above),
                                ShotRig::alert("AAPL", 180, PriceAlert::Direction::below),
                                ShotRig::alert("NVDA", 900, PriceAlert::Direction::below)});

    int failures = 0;
    auto shoot = [&](const char* name, const std::function<void()>& setUp) {
        setUp();
        const QImage image = renderer.render(
            scene, props, [&] { rig.clock().advance(2.5); }, 600);
        const QString path = out.filePath(QStringLiteral("card-%1.png").arg(name));
        if (image.isNull() || !image.save(path)) {
            std::fprintf(stderr, "%s: %s\n", name, qPrintable(renderer.errorString()));
            ++failures;
            return;
        }
        std::printf("%s\n", qPrintable(path));
    };

    shoot("portfolio", [&] {
        rig.prefs().setHoldings({Holding{"AAPL", 40}, Holding{"MSFT", 12}});
        rig.show({aapl, nvda, msft, tsla}, "AAPL");
    });
    shoot("down-spiking", [&] {
        rig.prefs().setHoldings({});
        atAfternoon();
        Stock spiking = nvda;
        spiking.lastSpikeAt = rig.clock().now() + 1; // still spiking once the scene settles
        rig.show({aapl, spiking, msft, tsla}, "NVDA");
    });
    shoot("alert-badge", [&] {
        atAfternoon();
        rig.show({aapl, nvda, msft, tsla}, "MSFT");
        AlertEvent event;
        event.id = QUuid::createUuid();
        event.symbol = QStringLiteral("AAPL");
        event.reason = AlertEvent::Reason::priceCross(188, PriceAlert::Direction::above);
        event.direction = Stock::Direction::up;
        event.timestamp = rig.clock().now();
        rig.state().fireAlert(event);
        rig.state().setActiveSymbol(QStringLiteral("AAPL"));
    });
    shoot("single", [&] {
        atAfternoon();
        rig.show({msft}, "MSFT");
    });
    shoot("futures", [&] {
        rig.setAfterHours(true);
        const double now = rig.clock().now();
        Stock es = ShotRig::daySeries("ES=F", 4783.25, 4770.5, now, -1, 1.0, 0.05);
        rig.show({es, ShotRig::daySeries("CL=F", 71.37, 72.24, now, 30, 1.6, -0.2)}, "ES=F");
    });
    shoot("empty", [&] {
        rig.setAfterHours(false);
        rig.show({}, std::nullopt);
    });
    return failures == 0 ? 0 : 1;
}
