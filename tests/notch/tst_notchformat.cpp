#include "notch/logocache.h"
#include "notch/notchformat.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QFontDatabase>

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
        QCOMPARE(priceText(187.42), QStringLiteral("$187.42"));
        QCOMPARE(priceText(1234567.5), QStringLiteral("$1234567.50"));
        QCOMPARE(priceText(0.004), QStringLiteral("$0.00"));
        QCOMPARE(priceText(0.5), QStringLiteral("$0.50"));
        QCOMPARE(priceText(99.999), QStringLiteral("$100.00"));
    }

    void directionColoursFollowSpikingAndFlat() {
        const NotchTheme theme = NotchTheme::select(ColorSchemePrefs{}, false);
        QCOMPARE(directionColor(Stock::Direction::up, theme, false), toQColor(theme.mutedPositive));
        QCOMPARE(directionColor(Stock::Direction::up, theme, true), toQColor(theme.spikePositive));
        QCOMPARE(directionColor(Stock::Direction::down, theme, false),
                 toQColor(theme.mutedNegative));
        QCOMPARE(directionColor(Stock::Direction::down, theme, true),
                 toQColor(theme.spikeNegative));
        QCOMPARE(directionColor(Stock::Direction::flat, theme, true), NotchPalette::textPrimary());
        // From QML the direction arrives as a number; nonsense is drawn neutral.
        QCOMPARE(NotchFormat::directionColor(7, theme, true), NotchPalette::textPrimary());
    }

    void carouselStepsOnTheSharedSpring() {
        const NotchSpring spring = carouselSpring();
        QCOMPARE(spring.response(), 0.38);
        QCOMPARE(spring.dampingFraction(), 0.82);
        // The animation lasts until the spring settles, and its curve ends on the target.
        QCOMPARE(NotchFormat::carouselDuration(), int(std::lround(spring.settleTime() * 1000)));
        QVERIFY(NotchFormat::carouselDuration() > 380 && NotchFormat::carouselDuration() < 2000);
        const QEasingCurve curve = NotchFormat::carouselEasing();
        QCOMPARE(curve.valueForProgress(0), 0.0);
        QVERIFY(qAbs(curve.valueForProgress(1) - 1) < 1e-9);
        QVERIFY(curve.valueForProgress(0.5) > 0.9); // a spring covers most of the way early
    }

    void roundedFamilyPrefersKnownFacesElseTheFallback() {
        const QStringList candidates{"SF Pro Rounded", "Nunito"};
        QCOMPARE(pickRoundedFamily({"DejaVu Sans", "nunito"}, candidates, "Sys"),
                 QStringLiteral("nunito"));
        QCOMPARE(pickRoundedFamily({"Nunito", "SF Pro Rounded"}, candidates, "Sys"),
                 QStringLiteral("SF Pro Rounded"));
        QCOMPARE(pickRoundedFamily({"DejaVu Sans"}, candidates, "Sys"), QStringLiteral("Sys"));
        QVERIFY(!roundedFontFamily().isEmpty());
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

    void qmlSeesTheSharedObjectsAndTheSymbolItem() {
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData(R"(
            import QtQuick
            import Velline.Notch
            Item {
                property var state: AppState
                property var prefs: UserPreferences
                property string up: NotchFormat.glyph("arrow.up")
                property string family: NotchFormat.roundedFontFamily
                property string price: NotchFormat.priceText(12.5)
                property string logo: LogoCache.logoSource("zz")
                property alias plain: plain
                property alias layered: layered
                SymbolImage { id: plain; name: "arrow.down"; pointSize: 8; weight: Font.Black }
                SymbolImage { id: layered; name: "minus.circle.fill"; secondaryColor: "red" }
            })",
                          QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        QCOMPARE(root->property("state").value<QObject*>(), &AppState::shared());
        QCOMPARE(root->property("prefs").value<QObject*>(), &UserPreferences::shared());
        QCOMPARE(root->property("up").toString(), symbolGlyphText("arrow.up"));
        QCOMPARE(root->property("family").toString(), roundedFontFamily());
        QCOMPARE(root->property("price").toString(), QStringLiteral("$12.50"));
        QVERIFY(root->property("logo").toUrl().isEmpty()); // nothing cached yet
        QVERIFY(engine.imageProvider(QLatin1String(LogoCache::providerId)));

        auto* plain = root->property("plain").value<QQuickItem*>();
        auto* layered = root->property("layered").value<QQuickItem*>();
        QVERIFY(plain->implicitWidth() > 0 && plain->implicitHeight() > 0);
        QCOMPARE(plain->property("layered").toBool(), false);
        QCOMPARE(layered->property("layered").toBool(), true);
    }

    void sharedObjectsOutliveTheEngine() {
        // The singletons are owned by C++: an engine going away must not delete them.
        {
            QQmlEngine engine;
            engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
            QQmlComponent component(&engine);
            component.setData("import QtQml\nimport Velline.Notch\nQtObject {"
                              " property var a: AppState; property var l: LogoCache }",
                              QUrl());
            std::unique_ptr<QObject> root(component.create());
            QVERIFY2(root, qPrintable(component.errorString()));
        }
        QCOMPARE(AppState::shared().objectName(), QString());
        QCOMPARE(LogoCache::shared().revision(), 0);
    }
};

QTEST_MAIN(TestNotchFormat)
#include "tst_notchformat.moc"
