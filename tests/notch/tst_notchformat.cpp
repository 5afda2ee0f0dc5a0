#include "notch/logocache.h"
#include "notch/notchformat.h"
#include "state/appstate.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

class TestNotchFormat : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each weight the notch uses comes from its own face, not from a neighbour drawn regular or
    // emboldened.
    void thePackagedFaceGivesRealMediumAndSemiboldWeights() {
        QVERIFY2(QFontDatabase::families().contains(QStringLiteral("Inter")),
                 "the UI face package (fonts-inter) is not installed");
        QCOMPARE(systemFontFamily(), QStringLiteral("Inter"));
        QCOMPARE(roundedFontFamily(), QStringLiteral("Inter"));
        for (const auto& [weight, style] : {std::pair{QFont::Normal, "Regular"},
                                            {QFont::Medium, "Medium"},
                                            {QFont::DemiBold, "SemiBold"},
                                            {QFont::Bold, "Bold"}}) {
            QFont font(systemFontFamily());
            font.setWeight(weight);
            const QFontInfo info(font);
            QVERIFY2(info.family() == u"Inter" &&
                         info.styleName().remove(u' ').compare(style, Qt::CaseInsensitive) == 0,
                     qPrintable(info.family() + u' ' + info.styleName()));
        }
    }

    void everySymbolNameHasAGlyphInTheInstalledIconFont() {
        QVERIFY2(QFontDatabase::families().contains(iconFontFamily()),
                 "the icon font package is not installed");
        const QFontMetricsF metrics(QFont(iconFontFamily(), 12));
        for (const SymbolGlyph& s : symbolGlyphs())
            for (char32_t cp : {s.glyph, s.back, s.front})
                QVERIFY2(cp == 0 || metrics.inFontUcs4(cp), qPrintable(s.name));
        QVERIFY(symbolGlyphText("no.such.symbol").isEmpty());
    }

    void qmlSeesTheSharedObjectsAndTheItems() {
        {
            QQmlEngine engine;
            engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
            QQmlComponent component(&engine);
            component.setData(R"(
            import QtQuick
            import Velline.Notch
            Item {
                property var state: AppState
                property url logo: LogoCache.logoSource("zz") // the cache installs its provider
                property list<Item> items: [
                    SymbolImage { name: "arrow.down"; pointSize: 8; weight: Font.Black },
                    SymbolImage { name: "minus.circle.fill"; secondaryColor: "red" },
                    RollingText { id: ones; text: "$111.11"; font.family: "Inter"; font.pixelSize: 13 },
                    RollingText { text: "$888.88"; font: ones.font } ]
            })",
                              QUrl());
            std::unique_ptr<QObject> root(component.create());
            QVERIFY2(root, qPrintable(component.errorString()));
            QCOMPARE(root->property("state").value<QObject*>(), &AppState::shared());
            QVERIFY(engine.imageProvider(QLatin1String(LogoCache::providerId)));
            const QQmlListReference items(root.get(), "items");
            const auto item = [&](int i) { return qobject_cast<QQuickItem*>(items.at(i)); };
            QVERIFY(!item(0)->property("layered").toBool() &&
                    item(1)->property("layered").toBool());

            // Numbers have tabular figures (Inter's own are proportional) and roll inside their
            // line: a digit enters from below and leaves upwards, cut at the line.
            QCOMPARE(item(2)->implicitWidth(), item(3)->implicitWidth());
            QVERIFY(item(2)->clip());
        }
        // The shared objects are owned by C++: the engine going away did not delete them.
        QCOMPARE(AppState::shared().objectName(), QString());
    }
};

QTEST_MAIN(TestNotchFormat)
#include "tst_notchformat.moc"
