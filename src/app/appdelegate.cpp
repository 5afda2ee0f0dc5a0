#include "app/appdelegate.h"

#include "app/memoryhousekeeping.h"
#include "app/statusmenu.h"
#include "desktop/alertnotifications.h"
#include "desktop/desktopnotifier.h"

#include "notch/expandedcardsource.h"
#include "notch/logocache.h"
#include "notchlayer/notchcontroller.h"
#include "prefs/userpreferences.h"
#include "quickadd/quickaddcontroller.h"
#include "settings/settingswindowcontroller.h"
#include "state/appstate.h"
#include "update/updater.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)
Q_IMPORT_QML_PLUGIN(Velline_InputPlugin)
Q_IMPORT_QML_PLUGIN(Velline_QuickAddPlugin)
Q_IMPORT_QML_PLUGIN(Velline_SettingsPlugin)

namespace velline {

namespace {

// The three content views of the notch, on the shared watch state and preferences unless
// `appState` / `prefs` are handed in. The card also answers two-finger swipes over its window.
const char* const kExpanded = R"(
import QtQuick
import Velline.Notch
import Velline.Input
Item {
    id: root
    property var appState: AppState
    property var prefs: UserPreferences
    implicitWidth: card.implicitWidth
    implicitHeight: card.implicitHeight
    ExpandedContentView {
        id: card
        anchors.fill: parent
        appState: root.appState
        prefs: root.prefs
    }
    TrackpadSwipe { onSwiped: direction => card.appState.swipe(direction) }
}
)";

const char* const kCompactLeading = R"(
import Velline.Notch
CompactLeadingContentView {}
)";

const char* const kCompactTrailing = R"(
import Velline.Notch
CompactTrailingContentView {}
)";

} // namespace

NotchContentBuilder AppDelegate::contentBuilder(QQmlEngine* engine, NotchSection section,
                                                const QVariantMap& properties) {
    const char* qml = section == NotchSection::expanded         ? kExpanded
                      : section == NotchSection::compactLeading ? kCompactLeading
                                                                : kCompactTrailing;
    // The view is compiled on its first build, not here: the card's types are loaded only when
    // the notch first expands. Copies of the builder share the one component.
    auto component = std::make_shared<QPointer<QQmlComponent>>();
    return [engine = QPointer<QQmlEngine>(engine), qml, properties, component]() -> QQuickItem* {
        if (!engine)
            return nullptr;
        if (!*component) {
            *component = new QQmlComponent(engine, engine);
            (*component)->setData(qml, QUrl(QStringLiteral("qrc:/velline/app/content.qml")));
            if ((*component)->isError())
                qFatal("velline: a notch view does not load: %s",
                       qPrintable((*component)->errorString()));
        }
        if (properties.isEmpty())
            return NotchController::fromComponent(*component)();
        QObject* object = (*component)->createWithInitialProperties(properties);
        auto* item = qobject_cast<QQuickItem*>(object);
        if (!item)
            delete object;
        return item;
    };
}

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent), m_appState(&AppState::shared()), m_updater(std::make_unique<Updater>()) {
    // The watch state prefetches the logos of new symbols through the shared cache.
    AppState::setSharedLogoPrefetch(
        [](const QString& symbol) { LogoCache::shared().prefetch(symbol); });
    connect(&NotchActions::shared(), &NotchActions::openSettingsRequested, this,
            &AppDelegate::openSettings);
    useDesktopControlsStyle();
    m_notifier = std::make_unique<DesktopNotifier>();
    m_alertNotifications = std::make_unique<AlertNotifications>(
        m_appState, &UserPreferences::shared(), m_notifier.get());
}

AppDelegate::~AppDelegate() {
    // The quick-add panel was built by this delegate's engine, which goes now.
    if (m_hotKeyRegistered)
        QuickAddController::shared().setEngine(nullptr);
}

QScreen* AppDelegate::firstScreen() {
    return QGuiApplication::primaryScreen();
}

void AppDelegate::applicationDidFinishLaunching() {
    QPointer<AppDelegate> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self)
                self->startApp();
        },
        Qt::QueuedConnection);
}

void AppDelegate::startApp() {
    if (m_notch)
        return;
    for (const QString& symbol : UserPreferences::shared().trackedSymbols())
        LogoCache::shared().prefetch(symbol);
    setupStatusItem();
    setupNotch();
    registerHotKey();
    m_appState->start();
    Q_EMIT started();
}

void AppDelegate::setupNotch() {
    m_engine = std::make_unique<QQmlEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    // No Linux screen has a camera housing: always the notch preset, drawn around an assumed
    // notch area.
    m_notch = std::make_unique<NotchController>(
        NotchHoverOption::all, NotchStyle::notch(),
        contentBuilder(m_engine.get(), NotchSection::expanded),
        contentBuilder(m_engine.get(), NotchSection::compactLeading),
        contentBuilder(m_engine.get(), NotchSection::compactTrailing), m_engine.get());
    m_notch->compact(firstScreen());
    m_housekeeping = std::make_unique<MemoryHousekeeping>(m_appState->clock(), m_engine.get());

    // Right-click on the notch: the status menu, which has no other home without a tray.
    connect(m_notch.get(), &NotchController::contextMenuRequested, this,
            &AppDelegate::showStatusMenu);
    connect(m_notch.get(), &NotchController::isHoveringChanged, this,
            [this] { hoverChanged(m_notch->isHovering()); });
    // The current value counts as the first one, so the pointer-away branch runs once now.
    hoverChanged(m_notch->isHovering());
}

void AppDelegate::hoverChanged(bool hovering) {
    if (m_lastHover == hovering)
        return;
    m_lastHover = hovering;
    if (hovering) {
        m_appState->suspendRotation();
        if (m_notch)
            m_notch->expand(firstScreen());
    } else {
        m_appState->resumeRotation();
        if (m_notch)
            m_notch->compact(firstScreen());
    }
}

void AppDelegate::setupStatusItem() {
    m_tray = std::make_unique<QSystemTrayIcon>(
        QIcon(QStringLiteral(":/velline/icons/org.velline.Velline-symbolic.svg")));
    m_tray->setToolTip(QStringLiteral("Velline"));
    // A StatusNotifierItem tray learns of the menu only if the icon has one when it is shown.
    // An XEmbed tray and the notch's right-click only ask for it: there the menu, and the
    // widgets it brings, are built the first time it is opened.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")))
        m_tray->setContextMenu(ensureStatusMenu());
    // A left click opens the same menu (a tray with the menu shows it by itself on a right
    // click).
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger ||
                    (reason == QSystemTrayIcon::Context && !m_tray->contextMenu()))
                    showStatusMenu();
            });
    m_tray->show();
    // A StatusNotifierItem tray draws the menu itself from our own dbusmenu export.
    exportStatusMenu(*this, m_tray.get());
}

QMenu* AppDelegate::ensureStatusMenu() {
    if (!m_menu)
        m_menu.reset(buildStatusMenu(*this));
    return m_menu.get();
}

void AppDelegate::showStatusMenu() {
    ensureStatusMenu()->popup(QCursor::pos());
}

void AppDelegate::registerHotKey() {
    QuickAddController& quickAdd = QuickAddController::shared();
    quickAdd.setEngine(m_engine.get());
    m_hotKeyRegistered = true;
    quickAdd.hotKey().registerHotKey();
}

void AppDelegate::openQuickAdd() {
    QuickAddController::shared().toggle();
}

void AppDelegate::checkForUpdates() {
    m_updater->checkForUpdates();
}

void AppDelegate::performCommand(const QString& command) {
    if (command == QLatin1String("quick-add"))
        openQuickAdd();
    else if (command == QLatin1String("settings"))
        openSettings();
    else if (command == QLatin1String("refresh"))
        refresh();
    else if (command == QLatin1String("check-for-updates"))
        checkForUpdates();
    else if (command == QLatin1String("quit"))
        quit();
}

void AppDelegate::openSettings() {
    SettingsWindowController& settings = SettingsWindowController::shared();
    if (!settings.window()) {
        settings.setEngine(m_engine.get());
        settings.setUpdater(m_updater.get());
    }
    settings.show();
    Q_EMIT settingsRequested();
}

void AppDelegate::refresh() {
    m_appState->refresh();
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

} // namespace velline
