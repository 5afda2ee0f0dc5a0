import QtQuick
import Velline.Notch

// The notch's compact trailing content: the right compact view of the watch state's active
// stock, in the user's display mode and colours, with the alert pulse and the tap rule.
CompactPulseFrame {
    id: root

    property var prefs: UserPreferences

    // Futures colours while the carousel shows futures.
    property NotchThemeSource themeSource: NotchThemeSource {
        isAfterHours: root.appState.isAfterHours
        prefs: root.prefs
    }

    theme: themeSource.theme

    // Stale quotes: the trailing text at half strength.
    property FeedNoteModel feedNote: FeedNoteModel {
        appState: root.appState
    }

    CompactTrailingView {
        opacity: root.feedNote.trailingOpacity
        stock: root.appState.activeStock
        transitionDirection: root.appState.lastSwipeDirection
        theme: root.theme
        displayMode: root.prefs.displayModeRaw
    }
}
