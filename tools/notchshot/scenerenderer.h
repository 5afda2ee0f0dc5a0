#pragma once

#include <QImage>
#include <QQmlEngine>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace velline::notchshot {

// Renders QML scenes to images for screenshots and visual checks: the scene runs in a
// window of its own size on the software scene graph (as the program draws), is shown,
// given a chance to settle, and grabbed. Works on the offscreen platform and under Xvfb.
// Needs a QGuiApplication; the QML modules the scene imports must be linked and imported
// (Q_IMPORT_QML_PLUGIN) by the program. "qrc:/qt/qml" is on the engine's import path.
class SceneRenderer {
public:
    SceneRenderer();

    QQmlEngine& engine() { return m_engine; }

    // Loads `qml` (QML source text) with `properties` as initial properties of its root item,
    // shows it at its own size, runs `settle` (for example advancing a virtual clock), then
    // lets `settleMs` of real time pass for animations before grabbing. Returns a null image
    // and sets errorString() on failure.
    QImage render(const QByteArray& qml, const QVariantMap& properties = {},
                  const std::function<void()>& settle = {}, int settleMs = 50);

    QString errorString() const { return m_error; }

    // The text of a scene compiled into the program (a resource path such as
    // ":/notchshot/cardscene.qml"); empty when there is none.
    static QByteArray scene(const QString& resource);

    // Selects the software scene graph; call before the first window exists.
    static void useSoftwareRenderer();

private:
    QQmlEngine m_engine;
    QString m_error;
};

} // namespace velline::notchshot
