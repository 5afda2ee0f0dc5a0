import QtQuick
import Velline.NotchLayer

// Animates a number the way the notch's latest change is animated: the spring (or timing
// curve) of the state or hover change that moved it.
NumberAnimation {
    required property NotchController notch

    duration: notch.animationDuration
    easing: notch.animationEasing
}
