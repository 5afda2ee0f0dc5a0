#include "notch/glowitems.h"
#include "notch/logocache.h"
#include "notch/notchformat.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <cmath>

Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

class TestNotchFormat : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void priceTextHasTwoDecimalsAndNoGrouping() {
        QCOMPARE(priceText(1234567.5), QStringLiteral("$1234567.50"));
        QCOMPARE(priceText(0.004), QStringLiteral("$0.00"));
        QCOMPARE(priceText(99.999), QStringLiteral("$100.00"));
    }

    void fontFamiliesPreferTheCandidatesInOrderElseTheFallback() {
        const QStringList candidates{"Inter", "Nunito"};
        QCOMPARE(pickFontFamily({"DejaVu Sans", "nunito"}, candidates, "Sys"),
                 QStringLiteral("nunito"));
        QCOMPARE(pickFontFamily({"Nunito", "Inter"}, candidates, "Sys"), QStringLiteral("Inter"));
        QCOMPARE(pickFontFamily({"DejaVu Sans"}, candidates, "Sys"), QStringLiteral("Sys"));
        QCOMPARE(pickFontFamily({}, candidates, "Sys"), QStringLiteral("Sys"));
    }

    void thePackagedFaceGivesRealMediumAndSemiboldWeights() {
        QVERIFY2(QFontDatabase::families().contains(QStringLiteral("Inter")),
                 "the UI face package (fonts-inter) is not installed");
        QCOMPARE(systemFontFamily(), QStringLiteral("Inter"));
        QCOMPARE(roundedFontFamily(), QStringLiteral("Inter"));
        // Each weight the notch uses comes from its own face, not from a neighbour drawn
        // regular or emboldened.
        const QList<std::pair<QFont::Weight, QString>> weights{{QFont::Normal, "Regular"},
                                                               {QFont::Medium, "Medium"},
                                                               {QFont::DemiBold, "SemiBold"},
                                                               {QFont::Bold, "Bold"}};
        QList<qreal> widths;
        for (const auto& [weight, style] : weights) {
            QFont font(systemFontFamily());
            font.setPixelSize(13);
            font.setWeight(weight);
            const QFontInfo info(font);
            QCOMPARE(info.family(), QStringLiteral("Inter"));
            QVERIFY2(info.styleName().remove(u' ').compare(style, Qt::CaseInsensitive) == 0,
                     qPrintable(info.styleName()));
            widths << QFontMetricsF(font).horizontalAdvance(QStringLiteral("+12.34%"));
        }
        // Heavier faces run wider, one step at a time.
        for (int i = 1; i < widths.size(); ++i)
            QVERIFY2(widths[i] > widths[i - 1], qPrintable(QString::number(widths[i])));
    }

    void everySymbolNameHasAGlyphInTheInstalledIconFont() {
        QVERIFY2(QFontDatabase::families().contains(iconFontFamily()),
                 "the icon font package is not installed");
        const QFontMetricsF metrics(QFont(iconFontFamily(), 12));
        const QStringList needed{"arrow.up",          "arrow.down",
                                 "arrow.up.right",    "arrow.down.right",
                                 "chart.bar.fill",    "gearshape.fill",
                                 "backward.fill",     "forward.fill",
                                 "minus.circle.fill", "chart.line.uptrend.xyaxis"};
        for (const QString& name : needed)
            QVERIFY2(!symbolGlyphText(name).isEmpty(), qPrintable(name));
        for (const SymbolGlyph& s : symbolGlyphs()) {
            for (char32_t cp : {s.glyph, s.back, s.front}) {
                if (cp != 0)
                    QVERIFY2(metrics.inFontUcs4(cp), qPrintable(s.name));
            }
        }
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
                property var prefs: UserPreferences
                property string price: NotchFormat.priceText(12.5)
                property string logo: LogoCache.logoSource("zz")
                property alias plain: plain
                property alias layered: layered
                property alias ones: ones
                property alias eights: eights
                property alias glow: glow
                SymbolImage { id: plain; name: "arrow.down"; pointSize: 8; weight: Font.Black }
                SymbolImage { id: layered; name: "minus.circle.fill"; secondaryColor: "red" }
                RollingText { id: ones; text: "$111.11"; font.family: "Inter"; font.pixelSize: 13 }
                RollingText { id: eights; text: "$888.88"; font: ones.font }
                TextGlow { id: glow; text: "$111.11"; font: ones.font; radius: 5 }
            })",
                              QUrl());
            std::unique_ptr<QObject> root(component.create());
            QVERIFY2(root, qPrintable(component.errorString()));
            QCOMPARE(root->property("state").value<QObject*>(), &AppState::shared());
            QCOMPARE(root->property("prefs").value<QObject*>(), &UserPreferences::shared());
            QCOMPARE(root->property("price").toString(), QStringLiteral("$12.50"));
            QVERIFY(root->property("logo").toUrl().isEmpty()); // nothing cached yet
            QVERIFY(engine.imageProvider(QLatin1String(LogoCache::providerId)));
            const auto item = [&](const char* name) {
                return root->property(name).value<QQuickItem*>();
            };
            QVERIFY(item("plain")->implicitWidth() > 0 && item("plain")->implicitHeight() > 0);
            QCOMPARE(item("plain")->property("layered").toBool(), false);
            QCOMPARE(item("layered")->property("layered").toBool(), true);

            // Numbers have tabular figures (the face's own are proportional) and roll inside
            // their line: a digit enters from below and leaves upwards, cut at the line.
            QFont font(QStringLiteral("Inter"));
            font.setPixelSize(13);
            const QFontMetricsF metrics(font);
            QVERIFY(metrics.horizontalAdvance(QStringLiteral("111")) + 3 <
                    metrics.horizontalAdvance(QStringLiteral("888")));
            QVERIFY(item("ones")->implicitWidth() > 0);
            QCOMPARE(item("ones")->implicitWidth(), item("eights")->implicitWidth());
            QCOMPARE(item("ones")->implicitWidth(),
                     tabularPositions(QStringLiteral("$111.11"), font).last());
            QCOMPARE(item("glow")->implicitWidth() - 2 * glowMargin(5),
                     std::ceil(item("ones")->implicitWidth()));
            QVERIFY(item("ones")->clip());
            QCOMPARE(item("ones")->implicitHeight(), metrics.height());
        }
        // The shared objects are owned by C++: the engine going away did not delete them.
        QCOMPARE(AppState::shared().objectName(), QString());
        QCOMPARE(LogoCache::shared().revision(), 0);
    }
};

QTEST_MAIN(TestNotchFormat)
#include "tst_notchformat.moc"
