// velline-notchshot: renders the notch's compact views in each state to PNG files, on
// virtual time and with logos from a local simulator (no network).
//   velline-notchshot [OUTPUT_DIR]     (default: the current directory)

#include "notch/notchclock.h"
#include "scenerenderer.h"
#include "shotrig.h"

#include <QDir>
#include <QGuiApplication>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;
using namespace velline::notchshot;

int main(int argc, char** argv) {
    ShotRig::prepareEnvironment(false);
    SceneRenderer::useSoftwareRenderer();
    QGuiApplication app(argc, argv);
    QDir out;
    if (!ShotRig::outputDir(argc, argv, out))
        return 1;

    ShotRig rig;
    SceneRenderer renderer;
    const QByteArray scene = SceneRenderer::scene(QStringLiteral(":/notchshot/compactscene.qml"));
    const QVariantMap props = rig.sceneProperties();

    const Stock aapl = rig.stock("AAPL", 187.42, 185.10, 1.2);
    const Stock nvda = rig.stock("NVDA", 903.5, 912.8, -0.3);
    const Stock msft = rig.stock("MSFT", 421.07, 421.0);
    if (!rig.loadLogos({"AAPL", "NVDA", "MSFT"}))
        std::fprintf(stderr, "logos did not arrive; placeholders are shown\n");

    ShotWriter writer(out, QStringLiteral("compact-"));
    auto shoot = [&](const char* name, const std::function<void()>& setUp,
                     const std::function<void()>& settle = {}, int settleMs = 50) {
        setUp();
        const QImage image = renderer.render(scene, props, settle, settleMs);
        writer.save(QString::fromLatin1(name), image, renderer.errorString());
    };

    auto mode = [&](DisplayMode m) { rig.prefs().setDisplayMode(m); };
    shoot("regular", [&] {
        mode(DisplayMode::regular);
        rig.show({aapl, nvda, msft}, "AAPL");
    });
    shoot("regular-down", [&] { rig.show({aapl, nvda, msft}, "NVDA"); });
    shoot("regular-flat", [&] { rig.show({aapl, nvda, msft}, "MSFT"); });
    shoot("compact", [&] {
        mode(DisplayMode::compact);
        rig.show({aapl, nvda, msft}, "AAPL");
    });
    shoot("compactLogo", [&] { mode(DisplayMode::compactLogo); });
    shoot("doNotDisturb", [&] { mode(DisplayMode::doNotDisturb); });
    shoot("empty", [&] {
        mode(DisplayMode::regular);
        rig.show({}, std::nullopt);
    });
    shoot("spiking", [&] {
        Stock spiking = rig.stock("NVDA", 931.2, 903.5, 1.6);
        spiking.lastSpikeAt = rig.clock().now() - 1;
        rig.show({aapl, spiking, msft}, "NVDA");
    });
    shoot("futures", [&] {
        rig.setAfterHours(true);
        rig.show({rig.stock("ES=F", 4783.25, 4770.5, 0.2), rig.stock("CL=F", 71.37, 72.24)},
                 "ES=F");
    });
    shoot("futures-down", [&] {
        rig.show({rig.stock("ES=F", 4783.25, 4770.5, 0.2), rig.stock("CL=F", 71.37, 72.24, -1.1)},
                 "CL=F");
    });
    // Mid-animation pictures: the flash at its peak, and the alert pulse at its first peak.
    shoot(
        "flash",
        [&] {
            rig.setAfterHours(false);
            rig.show({aapl, nvda, msft}, "AAPL");
        },
        [&] {
            rig.show({rig.stock("AAPL", 187.91, 185.10, 1.2), nvda, msft}, "AAPL");
            rig.clock().advance(0.12);
        },
        500); // the digits roll in real time; the flash waits on the virtual clock
    shoot(
        "pulse",
        [&] {
            rig.show({aapl, nvda, msft}, "AAPL");
        },
        [&] {
            rig.state().fireAlert(AlertEvent{QUuid::createUuid(), "AAPL",
                                             AlertEvent::Reason::spike(), Stock::Direction::up,
                                             rig.clock().now()});
            rig.clock().runDue();
            QTest::qWait(100); // the glow takes its picture of the view on the next frame
            rig.clock().advance(0.16);
        });
    return writer.exitCode();
}
