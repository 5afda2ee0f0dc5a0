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
        appState: root.appState
        prefs: root.prefs
    }
    // The card inside, for tests and for input that attaches to it.
    readonly property ExpandedNotchView card: view

    theme: source.theme

    property FeedNoteModel feedNote: FeedNoteModel {
        appState: root.appState
    }

    ExpandedNotchView {
        feedLine: root.feedNote.line
        emptyText: root.feedNote.emptyText
        stocks: root.appState.stocks
        activeSymbol: root.appState.activeSymbol
        transitionDirection: root.appState.lastSwipeDirection
        alertEvent: root.appState.alertEvent
        alertsForActive: root.appState.alertsForActive
        portfolioDayPL: root.source.portfolioDayPL
        portfolioMarketValue: root.source.portfolioMarketValue
        theme: root.theme
        onSwipeRequested: direction => root.appState.swipe(direction)
        onRemoveActiveRequested: root.appState.removeActive()
        onOpenSettingsRequested: NotchActions.openSettings()
    }
}
