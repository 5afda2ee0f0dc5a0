// velline-cardshot: renders the expanded card in its typical states to PNG files, on virtual
// time and with logos from a local simulator (no network).
//   velline-cardshot [OUTPUT_DIR]     (default: the current directory)
// The chart's times read in the machine's time zone; New York unless TZ is set.

#include "scenerenderer.h"
#include "shotrig.h"

#include <QDir>
#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;
using namespace velline::notchshot;

int main(int argc, char** argv) {
    ShotRig::prepareEnvironment();
    SceneRenderer::useSoftwareRenderer();
    QGuiApplication app(argc, argv);
    QDir out;
    if (!ShotRig::outputDir(argc, argv, out))
        return 1;

    ShotRig rig;
    SceneRenderer renderer;
    const QByteArray scene = SceneRenderer::scene(QStringLiteral(":/notchshot/cardscene.qml"));
    const QVariantMap props = rig.sceneProperties();
    if (!rig.loadLogos({"AAPL", "NVDA", "MSFT", "TSLA"}))
        std::fprintf(stderr, "logos did not arrive; placeholders are shown\n");

    rig.moveToAfternoon();
    const ShotRig::Day day = ShotRig::afternoonDay();
    rig.useDayAlerts();

    ShotWriter writer(out, QStringLiteral("card-"));
    auto shoot = [&](const char* name, const std::function<void()>& setUp) {
        setUp();
        const QImage image = renderer.render(
            scene, props, [&] { rig.clock().advance(2.5); }, 600);
        writer.save(QString::fromLatin1(name), image, renderer.errorString());
    };

    shoot("portfolio", [&] {
        rig.prefs().setHoldings({Holding{"AAPL", 40}, Holding{"MSFT", 12}});
        rig.show(day.all(), "AAPL");
    });
    shoot("down-spiking", [&] {
        rig.prefs().setHoldings({});
        rig.moveToAfternoon();
        Stock spiking = day.nvda;
        spiking.lastSpikeAt = rig.clock().now() + 1; // still spiking once the scene settles
        rig.show({day.aapl, spiking, day.msft, day.tsla}, "NVDA");
    });
    shoot("alert-badge", [&] {
        rig.moveToAfternoon();
        rig.show(day.all(), "MSFT");
        rig.fireCrossAbove(QStringLiteral("AAPL"), 188);
        rig.state().setActiveSymbol(QStringLiteral("AAPL"));
    });
    shoot("single", [&] {
        rig.moveToAfternoon();
        rig.show({day.msft}, "MSFT");
    });
    shoot("futures", [&] {
        rig.setAfterHours(true);
        rig.show(ShotRig::futuresDay(rig.clock().now()), "ES=F");
    });
    shoot("empty", [&] {
        rig.setAfterHours(false);
        rig.show({}, std::nullopt);
    });
    return writer.exitCode();
}
