// The notch outline's fill on the software scene graph: what it draws, and that an outline
// moving with an animation costs one frame per step.
#include "notchlayer/notchfill.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)

using namespace velline;

class TestNotchFill : public QObject {
    Q_OBJECT

    const QByteArray scene = R"(
        import QtQuick
        import Velline.NotchLayer
        Window {
            width: 200; height: 80; color: "white"; visible: true
            property alias shapeWidth: shape.width
            NotchShape {
                id: shape
                objectName: "shape"
                x: 10; width: 180; height: 40
                color: "#ff0000"
                topCornerRadius: 6; bottomCornerRadius: 14
            }
        }
    )";

private Q_SLOTS:
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    void drawsTheOutlineOnceAStep() {
        QVERIFY(NotchFill::isSupported());
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData(scene, QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The fill draws (the Shapes fallback stays unloaded).
        auto* fill = root->findChild<NotchFill*>();
        QVERIFY(fill);
        QVERIFY(fill->isVisible());

        QTRY_VERIFY(window->grabWindow().pixel(100, 20) == qRgb(255, 0, 0));
        const QImage image = window->grabWindow();
        QCOMPARE(image.pixel(100, 39), qRgb(255, 0, 0));     // inside, near the bottom edge
        QCOMPARE(image.pixel(100, 60), qRgb(255, 255, 255)); // below the notch
        // The top fillets flare out: the corner of the bounding box is filled at the top edge,
        // the bottom corners are rounded away.
        QCOMPARE(image.pixel(20, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(14, 39), qRgb(255, 255, 255));

        // Each change of the outline asks for one frame, and no second one after it.
        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        QTest::qWait(50);
        frames.clear();
        for (int step = 1; step <= 5; ++step) {
            root->setProperty("shapeWidth", 180 - 4 * step);
            QVERIFY(frames.wait(1000));
            QTest::qWait(40);
            QCOMPARE(frames.size(), step);
        }
        QCOMPARE(window->grabWindow().pixel(189, 10), qRgb(255, 255, 255)); // narrower now
    }
};

QTEST_MAIN(TestNotchFill)
#include "tst_notchfill.moc"
