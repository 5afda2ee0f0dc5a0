#include "notch/notchtheme.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {
bool near(const RGBColor& c, double r, double g, double b) {
    return qAbs(c.red - r) < 1e-4 && qAbs(c.green - g) < 1e-4 && qAbs(c.blue - b) < 1e-4;
}
} // namespace

class TestTheme : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void builtInThemesUseTheFixedSpikeColours() {
        const ColorSchemePrefs none;
        const NotchTheme equity = NotchTheme::select(none, false);
        QVERIFY(near(equity.mutedPositive, 0.55, 0.82, 0.62));
        QVERIFY(near(equity.mutedNegative, 0.90, 0.48, 0.48));
        // Fixed values, not the derivation of the base defaults (which would be ~0.649, ...).
        QVERIFY(near(equity.spikePositive, 0.68, 0.96, 0.74));
        QVERIFY(near(equity.spikeNegative, 1.0, 0.58, 0.58));
        QVERIFY(!equity.modeLabel);
        QVERIFY(equity.modeLabelValue().isNull());

        const NotchTheme futures = NotchTheme::select(none, true);
        QVERIFY(near(futures.mutedPositive, 0.86, 0.68, 0.28));
        QVERIFY(near(futures.mutedNegative, 0.62, 0.48, 0.88));
        QVERIFY(near(futures.spikePositive, 0.98, 0.82, 0.40));
        QVERIFY(near(futures.spikeNegative, 0.78, 0.62, 0.98));
        QCOMPARE(futures.modeLabel, std::optional<QString>(QStringLiteral("Futures")));
        QVERIFY(equity != futures);
        QCOMPARE(NotchTheme::futures(none), futures);
    }

    void overridesDeriveTheirOwnSideOnlyAndOnlyInTheirMode() {
        ColorSchemePrefs scheme;
        scheme.equityUp = RGBColor{0.2, 0.4, 0.6};
        scheme.futuresDown = RGBColor{0.9, 0.5, 0.1};

        const NotchTheme equity = NotchTheme::equity(scheme);
        QCOMPARE(equity.mutedPositive, (RGBColor{0.2, 0.4, 0.6}));
        QVERIFY(near(equity.spikePositive, 0.236, 0.472, 0.708));
        QVERIFY(near(equity.mutedNegative, 0.90, 0.48, 0.48));
        QVERIFY(near(equity.spikeNegative, 1.0, 0.58, 0.58));

        const NotchTheme futures = NotchTheme::futures(scheme);
        QVERIFY(near(futures.mutedPositive, 0.86, 0.68, 0.28)); // equity override ignored
        QCOMPARE(futures.mutedNegative, (RGBColor{0.9, 0.5, 0.1}));
        QVERIFY(near(futures.spikeNegative, 1.0, 0.5556, 0.1111)); // brightness capped at 1
        QVERIFY(near(futures.spikePositive, 0.98, 0.82, 0.40));
    }

    void spikeVariantEdges() {
        QCOMPARE(spikeVariant(RGBColor{1, 1, 1}), (RGBColor{1, 1, 1}));
        QCOMPARE(spikeVariant(RGBColor{0, 0, 0}), (RGBColor{0, 0, 0}));
        QVERIFY(near(spikeVariant(RGBColor{0.5, 0, 0}), 0.59, 0, 0));
        QVERIFY(near(spikeVariant(RGBColor{0.5, 0.25, 0}, 4.0), 1.0, 0.5, 0));
        // A component with no numeric reading gives black rather than NaN on screen.
        QCOMPARE(spikeVariant(RGBColor{qQNaN(), 0.5, 0.5}), (RGBColor{0, 0, 0}));

        const QColor drawn = NotchTheme::equity({}).mutedPositiveColor();
        QCOMPARE(drawn.alphaF(), 1.0f);
        QVERIFY(qAbs(drawn.redF() - 0.55f) < 1e-3f);
        QVERIFY(qAbs(NotchPalette::textSecondary().alphaF() - 0.55f) < 1e-3f);
    }

    void liveThemeFollowsTheSchemeAndTheFuturesFlag() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        NotchThemeSource source(&prefs, nullptr);
        QSignalSpy changed(&source, &NotchThemeSource::themeChanged);
        ColorSchemePrefs scheme;
        scheme.futuresUp = RGBColor{0.1, 0.2, 0.3};
        prefs.setColorScheme(scheme);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(source.theme(), NotchTheme::equity(scheme));
        source.setIsAfterHours(true);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(source.theme().mutedPositive, (RGBColor{0.1, 0.2, 0.3}));
    }
};

QTEST_GUILESS_MAIN(TestTheme)
#include "tst_theme.moc"
