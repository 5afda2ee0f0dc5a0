import QtQuick
import Velline.Notch

// The expanded card as the notch shows it: fed from the watch state and the preferences,
// framed by the alert pulse and the tap rule of the compact views. Steps go to
// AppState.swipe, removal to AppState.removeActive and the settings button to
// NotchActions.openSettingsRequested. Other input (the trackpad swipe) may attach to this item.
CompactPulseFrame {
    id: root

    // The preferences; the shared ones unless a test hands in others.
    property var prefs: UserPreferences
    property ExpandedCardSource source: ExpandedCardSource {
        state: root.state
        prefs: root.prefs
    }
    // The card inside, for tests and for input that attaches to it.
    readonly property ExpandedNotchView card: view

    theme: source.theme

    ExpandedNotchView {
        stocks: root.state.stocks
        activeSymbol: root.state.activeSymbol
        transitionDirection: root.state.lastSwipeDirection
        alertEvent: root.state.alertEvent
        alertsForActive: root.state.alertsForActive
        portfolioDayPL: root.source.portfolioDayPL
        portfolioMarketValue: root.source.portfolioMarketValue
        theme: root.theme
        onSwipeRequested: direction => root.state.swipe(direction)
        onRemoveActiveRequested: root.state.removeActive()
        onOpenSettingsRequested: NotchActions.openSettings()
    }
}
