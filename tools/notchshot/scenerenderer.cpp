#include "scenerenderer.h"

#include <QFile>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTest>
#include <QtMath>

#include <memory>

namespace velline::notchshot {

SceneRenderer::SceneRenderer() {
    m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

QByteArray SceneRenderer::scene(const QString& resource) {
    QFile file(resource);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SceneRenderer::useSoftwareRenderer() {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

QImage SceneRenderer::render(const QByteArray& qml, const QVariantMap& properties,
                             const std::function<void()>& settle, int settleMs) {
    m_error.clear();
    QQmlComponent component(&m_engine);
    component.setData(qml, QUrl(QStringLiteral("qrc:/notchshot/scene.qml")));
    std::unique_ptr<QObject> object(component.createWithInitialProperties(properties));
    auto* item = qobject_cast<QQuickItem*>(object.get());
    if (!item) {
        m_error =
            object ? QStringLiteral("the scene's root is not an Item") : component.errorString();
        return {};
    }
    QQuickWindow window;
    window.setFlags(Qt::FramelessWindowHint);
    window.setColor(Qt::transparent);
    item->setParentItem(window.contentItem());
    auto fit = [&] {
        const QSize size(qMax(1, qCeil(item->width())), qMax(1, qCeil(item->height())));
        if (window.size() != size)
            window.resize(size);
    };
    fit();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        m_error = QStringLiteral("the window never showed");
        return {};
    }
    if (settle)
        settle();
    QTest::qWait(settleMs);
    fit();
    QTest::qWait(20);
    QImage image = window.grabWindow();
    window.hide();
    item->setParentItem(nullptr);
    if (image.isNull())
        m_error = QStringLiteral("the window could not be grabbed");
    return image;
}

} // namespace velline::notchshot
