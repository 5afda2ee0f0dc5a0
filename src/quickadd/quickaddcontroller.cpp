#include "quickadd/quickaddcontroller.h"

#include "notchlayer/x11support.h"
#include "prefs/userpreferences.h"
#include "quickadd/quickaddgeometry.h"
#include "quickadd/quickaddpanel.h"
#include "quickadd/tickerfilter.h"
#include "state/appstate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QQuickItem>
#include <QScreen>

namespace velline {

QuickAddController::QuickAddController(UserPreferences* prefs, AppState* state, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_state(state) {
    const auto recentsChanged = [this] {
        Q_EMIT recentRowsChanged();
        const bool shows = showsRecents();
        if (shows != m_showsRecents) {
            m_showsRecents = shows;
            Q_EMIT showsRecentsChanged();
        }
    };
    connect(m_prefs, &UserPreferences::recentlyAddedChanged, this, recentsChanged);
    connect(m_prefs, &UserPreferences::trackedSymbolsChanged, this,
            &QuickAddController::recentRowsChanged);
    m_showsRecents = showsRecents();
    // The hot key hops to the event loop itself; a toggle is safe from there.
    m_hotKey.setOnTrigger([self = QPointer<QuickAddController>(this)] {
        if (self)
            self->toggle();
    });
}

QuickAddController::~QuickAddController() = default;

QuickAddController& QuickAddController::shared() {
    static QuickAddController* controller =
        new QuickAddController(&UserPreferences::shared(), &AppState::shared());
    return *controller;
}

void QuickAddController::setEngine(QQmlEngine* engine) {
    if (engine == m_engine)
        return;
    // A panel built by the old engine must not outlive it: the next show builds a new one.
    if (m_panel && !m_ownEngine) {
        hide();
        m_panel.reset();
    }
    m_engine = engine;
}

void QuickAddController::toggle() {
    if (isVisible())
        hide();
    else
        show();
}

void QuickAddController::show() {
    if (!m_panel)
        makePanel();
    positionPanel();
    m_panel->present();
    Q_EMIT visibleChanged();
    Q_EMIT shown();
}

void QuickAddController::hide() {
    if (!m_panel || !m_panel->isVisible())
        return;
    m_panel->hide();
    Q_EMIT visibleChanged();
}

bool QuickAddController::isVisible() const {
    return m_panel && m_panel->isVisible();
}

bool QuickAddController::translucent() const {
    auto* watcher = x11::CompositorWatcher::instance();
    return !watcher || watcher->isActive();
}

void QuickAddController::makePanel() {
    QQmlEngine* engine = m_engine;
    if (!engine) {
        m_ownEngine = std::make_unique<QQmlEngine>();
        m_ownEngine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine = m_ownEngine.get();
    }
    if (auto* watcher = x11::CompositorWatcher::instance()) {
        connect(watcher, &x11::CompositorWatcher::activeChanged, this,
                &QuickAddController::translucentChanged);
    }
    m_panel = std::make_unique<QuickAddPanel>(engine, this);
    // Leaving the panel (a click elsewhere, another window taking the keyboard) closes it, on
    // the next turn of the event loop: the window is still delivering its focus change.
    connect(m_panel.get(), &QuickAddPanel::focusLost, this, [this] {
        QMetaObject::invokeMethod(this, &QuickAddController::hide, Qt::QueuedConnection);
    });
    connect(m_panel.get(), &QWindow::visibleChanged, this, &QuickAddController::visibleChanged);
    if (QQuickItem* root = m_panel->rootObject())
        m_panel->resize(
            quickaddgeometry::clampedSize(QSizeF(root->implicitWidth(), root->implicitHeight()))
                .toSize());
    else
        m_panel->resize(quickaddgeometry::kInitialSize.toSize());
}

QScreen* QuickAddController::screenUnderPointer() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        return screen;
    const auto screens = QGuiApplication::screens();
    return screens.isEmpty() ? nullptr : screens.first();
}

void QuickAddController::positionPanel() {
    QScreen* screen = screenUnderPointer();
    if (!screen)
        return; // stays where it was
    if (m_panel->screen() != screen)
        m_panel->setScreen(screen);
    const QRectF frame =
        quickaddgeometry::placedFrame(QRectF(screen->availableGeometry()), QSizeF(m_panel->size()));
    m_panel->setGeometry(frame.toRect());
}

void QuickAddController::reportSize(qreal width, qreal height) {
    if (!m_panel)
        return;
    const QRectF frame =
        quickaddgeometry::resizedFrame(QRectF(m_panel->geometry()), QSizeF(width, height));
    if (frame.toRect() != m_panel->geometry())
        m_panel->setGeometry(frame.toRect());
}

void QuickAddController::setQuery(const QString& text) {
    const QString filtered = sanitizeTicker(text);
    const bool showed = showsRecents();
    if (filtered != m_query) {
        m_query = filtered;
        Q_EMIT queryChanged();
    } else if (filtered != text) {
        // The view holds the unfiltered text: tell it to take the filtered one back.
        Q_EMIT queryChanged();
    }
    if (showsRecents() != showed) {
        m_showsRecents = showsRecents();
        Q_EMIT showsRecentsChanged();
    }
}

QVariantList QuickAddController::recentRows() const {
    QVariantList rows;
    const QStringList recents = m_prefs->recentlyAdded();
    const QStringList tracked = m_prefs->trackedSymbols();
    for (const QString& symbol : recents.mid(0, kMaxRecentRows)) {
        rows.append(QVariantMap{{QStringLiteral("symbol"), symbol},
                                {QStringLiteral("tracked"), tracked.contains(symbol)}});
    }
    return rows;
}

bool QuickAddController::showsRecents() const {
    return m_query.isEmpty() && !m_prefs->recentlyAdded().isEmpty();
}

bool QuickAddController::submit() {
    const QString symbol = sanitizeTicker(m_query);
    if (symbol.isEmpty())
        return false;
    if (!add(symbol))
        return false;
    setQuery(QString());
    return true;
}

void QuickAddController::choose(const QString& symbol) {
    add(symbol);
}

std::optional<QString> QuickAddController::add(const QString& text) {
    const std::optional<QString> symbol = m_prefs->addSymbol(text);
    if (!symbol)
        return std::nullopt;
    if (m_state->isRefreshInFlight()) {
        // That refresh fetched the list without the new symbol and would hand the notch back to
        // the first symbol when it ends: point it at the new one again then, and fetch it.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(m_state, &AppState::refreshFinished, this, [this, once, s = *symbol] {
            disconnect(*once);
            if (m_prefs->trackedSymbols().contains(s)) {
                m_state->setActiveSymbol(s);
                m_state->refresh();
            }
        });
    } else {
        m_state->refresh();
    }
    m_state->setActiveSymbol(*symbol);
    hide();
    Q_EMIT added(*symbol);
    return symbol;
}

QString QuickAddController::placeholderText() {
    return QStringLiteral("Add a stock \u2014 type a ticker");
}

QString QuickAddController::recentHeading() {
    return QStringLiteral("RECENT");
}

QString QuickAddController::trackedCaption() {
    return QStringLiteral("already tracked");
}

QString QuickAddController::returnBadge() {
    return QStringLiteral("\u23CE");
}

} // namespace velline
