// notchlayer-demo: shows the notch with plain coloured test content and drives it the way the
// application does: compact at start, expanded while the pointer is over the notch.
//
//   notchlayer-demo [--floating] [--expanded-only] [--skip-intermediate-hides]
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchpanel.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)

using namespace velline;

namespace {

const char* kLeading = R"(
import QtQuick
import Velline.NotchLayer
Rectangle {
    implicitWidth: 56; implicitHeight: 20; radius: 5
    color: NotchEnvironment.isCompactLeading ? "#34c759" : "red"
}
)";

const char* kTrailing = R"(
import QtQuick
Rectangle { implicitWidth: 88; implicitHeight: 20; radius: 5; color: "#0a84ff" }
)";

const char* kExpanded = R"(
import QtQuick
Item {
    implicitWidth: 340
    implicitHeight: 150
    Rectangle { x: 0; y: 10; width: 340; height: 36; radius: 8; color: "#ff9f0a" }
    Rectangle { x: 0; y: 56; width: 220; height: 36; radius: 8; color: "#bf5af2" }
    Rectangle { x: 230; y: 56; width: 110; height: 36; radius: 8; color: "#ff375f" }
    Rectangle { x: 0; y: 102; width: 340; height: 48; radius: 8; color: "#30d158" }
}
)";

NotchContentBuilder build(QQmlEngine& engine, const char* qml) {
    auto* component = new QQmlComponent(&engine, &engine);
    component->setData(qml, QUrl());
    return NotchController::fromComponent(component);
}

} // namespace

int main(int argc, char** argv) {
    NotchPanel::preferX11Platform();
    NotchPanel::selectDefaultGraphicsApi();
    QGuiApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("notchlayer-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Velline notch with test content."));
    parser.addHelpOption();
    const QCommandLineOption floating(QStringLiteral("floating"),
                                      QStringLiteral("Use the floating pill style."));
    const QCommandLineOption expandedOnly(QStringLiteral("expanded-only"),
                                          QStringLiteral("No compact content."));
    const QCommandLineOption skipHides(QStringLiteral("skip-intermediate-hides"),
                                       QStringLiteral("Convert without passing through hidden."));
    parser.addOptions({floating, expandedOnly, skipHides});
    parser.process(app);

    QQmlEngine engine;
    const NotchStyle style = parser.isSet(floating) ? NotchStyle::floating() : NotchStyle::notch();
    const NotchHoverBehavior hover = NotchHoverOption::all;
    std::unique_ptr<NotchController> notch;
    if (parser.isSet(expandedOnly)) {
        notch = std::make_unique<NotchController>(hover, style, build(engine, kExpanded), &engine);
    } else {
        notch = std::make_unique<NotchController>(hover, style, build(engine, kExpanded),
                                                  build(engine, kLeading), build(engine, kTrailing),
                                                  &engine);
    }
    NotchTransitionConfiguration transitions;
    transitions.skipIntermediateHides = parser.isSet(skipHides);
    notch->setTransitionConfiguration(transitions);

    // Like the application: expand while hovered, compact otherwise. A style without a compact
    // form hides instead, so bring it back after a moment to keep something to hover.
    NotchController* n = notch.get();
    const auto rest = [n, &app] {
        n->compact(QGuiApplication::primaryScreen(), &app, [n, &app] {
            if (n->isHidden() && !n->isHovering()) {
                Clock::system()->schedule(2.0, &app, [n] {
                    if (n->isHidden())
                        n->expand(QGuiApplication::primaryScreen());
                });
            }
        });
    };
    QObject::connect(n, &NotchController::isHoveringChanged, &app, [n, rest] {
        if (n->isHovering())
            n->expand(QGuiApplication::primaryScreen());
        else
            rest();
    });
    rest();
    return app.exec();
}
