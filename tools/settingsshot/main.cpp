// velline-settingsshot: the settings window with each pane selected, as PNG files, on a private
// set of preferences (light desktop palette, and dark with --dark).
//   velline-settingsshot [--dark] [OUTPUT_DIR]
#include "prefs/userpreferences.h"
#include "settings/settingswindowcontroller.h"
#include "update/updater.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Velline_SettingsPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

namespace {

// A dark desktop palette like the common dark themes.
QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2a, 0x2e, 0x32), base(0x1b, 0x1e, 0x20), text(0xfc, 0xfc, 0xfc);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x31, 0x36, 0x3b));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0xa1, 0xa9, 0xb1));
    p.setColor(QPalette::Light, QColor(0x40, 0x46, 0x4c));
    p.setColor(QPalette::Midlight, QColor(0x38, 0x3d, 0x42));
    p.setColor(QPalette::Mid, QColor(0x24, 0x28, 0x2b));
    p.setColor(QPalette::Dark, QColor(0x1a, 0x1d, 0x1f));
    p.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6e, 0x72, 0x76));
    return p;
}

void seed(UserPreferences& prefs) {
    prefs.setTrackedSymbols({"AAPL", "NVDA", "MSFT", "^GSPC", "BRK-B", "PLTR"});
    prefs.setHolding(QStringLiteral("AAPL"), 12);
    prefs.setHolding(QStringLiteral("NVDA"), 12.5);
    prefs.setHolding(QStringLiteral("BRK-B"), 0.125);
    const auto fired = prefs.addAlert(QStringLiteral("AAPL"), 188.0, PriceAlert::Direction::above);
    prefs.addAlert(QStringLiteral("NVDA"), 118.5, PriceAlert::Direction::below);
    prefs.addAlert(QStringLiteral("MSFT"), 425.0, PriceAlert::Direction::above);
    if (fired) {
        const QDateTime at(QDate(2024, 1, 10), QTime(14, 35));
        prefs.markAlertTriggered(*fired, double(at.toSecsSinceEpoch()));
    }
    ColorSchemePrefs scheme;
    scheme.equityUp = RGBColor{0.30, 0.78, 0.92};
    prefs.setColorScheme(scheme);
}

} // namespace

int main(int argc, char** argv) {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
    const QDir out(args.value(0, QStringLiteral(".")));
    if (!QDir().mkpath(out.absolutePath())) {
        QTextStream(stderr) << "velline-settingsshot: cannot create " << out.absolutePath() << "\n";
        return 1;
    }
    if (dark)
        QGuiApplication::setPalette(darkPalette());

    QTemporaryDir home;
    QSettings store(home.filePath(QStringLiteral("Velline.ini")), QSettings::IniFormat);
    UserPreferences prefs(&store);
    seed(prefs);

    // Like a build made without a release feed (the default): updated by its package manager.
    Updater::Options updates;
    updates.settings = &store;
    updates.showsDialogs = false;
    Updater updater(updates);

    SettingsWindowController controller;
    controller.setPrefs(&prefs);
    controller.setUpdater(&updater);
    controller.show();
    QQuickWindow* window = controller.window();
    if (!window || !QTest::qWaitForWindowExposed(window)) {
        QTextStream(stderr) << "velline-settingsshot: the settings window did not show\n";
        return 1;
    }
    QObject* view = window->findChild<QObject*>(QStringLiteral("settingsView"));
    const QString suffix = dark ? QStringLiteral("-dark") : QString();
    for (const char* section : {"general", "colors", "stocks", "portfolio", "alerts"}) {
        view->setProperty("selection", QString::fromLatin1(section));
        QTest::qWait(150);
        const QString file =
            out.filePath(QStringLiteral("settings-%1%2.png").arg(QLatin1String(section), suffix));
        if (!window->grabWindow().save(file)) {
            QTextStream(stderr) << "velline-settingsshot: cannot write " << file << "\n";
            return 1;
        }
        QTextStream(stdout) << file << "\n";
    }
    return 0;
}
