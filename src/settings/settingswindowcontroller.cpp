#include "settings/settingswindowcontroller.h"

#include "prefs/userpreferences.h"
#include "update/updater.h"

#include <QCursor>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QScreen>

namespace velline {

void useDesktopControlsStyle() {
    static bool chosen = false;
    if (chosen)
        return;
    chosen = true;
    // Through the environment rather than QQuickStyle: the controls' libraries then load only
    // when a window that uses them is first built, not with the program.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        qputenv("QT_QUICK_CONTROLS_STYLE", "Fusion");
}

SettingsWindowController::SettingsWindowController(QObject* parent) : QObject(parent) {}

SettingsWindowController::~SettingsWindowController() {
    delete m_window.data();
}

SettingsWindowController& SettingsWindowController::shared() {
    static auto* instance = new SettingsWindowController();
    return *instance;
}

void SettingsWindowController::setEngine(QQmlEngine* engine) {
    m_engine = engine;
}

void SettingsWindowController::setUpdater(Updater* updater) {
    m_updater = updater;
}

void SettingsWindowController::setPrefs(UserPreferences* prefs) {
    m_prefs = prefs;
}

bool SettingsWindowController::build() {
    useDesktopControlsStyle();
    QQmlEngine* engine = m_engine.data();
    if (!engine) {
        m_ownEngine = std::make_unique<QQmlEngine>();
        m_ownEngine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine = m_ownEngine.get();
    }
    QQmlComponent component(engine);
    component.setData("import Velline.Settings\nSettingsWindow {}\n",
                      QUrl(QStringLiteral("qrc:/velline/settings/window.qml")));
    QVariantMap properties{
        {QStringLiteral("updater"), QVariant::fromValue<QObject*>(m_updater.data())},
    };
    if (m_prefs)
        properties.insert(QStringLiteral("prefs"), QVariant::fromValue<QObject*>(m_prefs.data()));
    QObject* object = component.createWithInitialProperties(properties);
    auto* window = qobject_cast<QQuickWindow*>(object);
    if (!window) {
        qWarning("velline: the settings window does not load: %s",
                 qPrintable(component.errorString()));
        delete object;
        return false;
    }
    // The window lives as long as the engine it was built in (the program's engine lives for
    // the whole run); QML must not collect it.
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    static_cast<QObject*>(window)->setParent(engine);
    m_window = window;
    Q_EMIT windowCreated();
    return true;
}

void SettingsWindowController::placeOnPointerScreen() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    if (m_window->screen() != screen)
        m_window->setScreen(screen);
    const QRect area = screen->availableGeometry();
    // Known once the window has been shown; the frame is centred, not the content alone.
    const QMargins frame = m_window->frameMargins();
    const QSize outer = m_window->size().grownBy(frame);
    const QPoint frameTopLeft(area.x() + (area.width() - outer.width()) / 2,
                              area.y() + (area.height() - outer.height()) / 2);
    m_window->setPosition(frameTopLeft + QPoint(frame.left(), frame.top()));
}

void SettingsWindowController::show() {
    if (!m_window && !build())
        return;
    placeOnPointerScreen();
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->setWindowStates(m_window->windowStates() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

} // namespace velline
