import QtQuick
import Velline.Notch

// Shows one instance of `delegate` for the current `key` (a symbol). When the key changes the
// old instance slides out and fades while a new one slides in and fades in, on the carousel
// spring. New content enters from the trailing (right) edge, or from the leading edge when
// `fromLeading` is set (a step back); the old content leaves toward the opposite edge.
//
// An instance that leaves should stop following live data: if it has a function retire(),
// it is called when the instance starts to leave.
Item {
    id: root

    property var key
    property Component delegate
    property bool fromLeading: false

    readonly property Item current: d.current ? d.current.content : null

    // The content instances on screen, the current one last (one, or two while sliding).
    function contents() {
        const list = []
        for (let i = 0; i < stage.children.length; ++i) {
            const c = stage.children[i]
            if (c.content && c !== d.current)
                list.push(c.content)
        }
        if (d.current)
            list.push(d.current.content)
        return list
    }

    implicitWidth: current ? current.implicitWidth : 0
    implicitHeight: current ? current.implicitHeight : 0

    QtObject {
        id: d
        property Item current: null
        property var shownKey
        // Nothing slides while the item is being built.
        property bool ready: false
        property int leaving: 0
    }

    // How far content may reach past the edges while it slides: room for a number's flash
    // (scaled up, glowing) and for the spring's overshoot.
    property real overflow: 8

    // Sliding content is cut a little beyond the edges; standing content is not cut at all.
    Item {
        id: stage
        x: -root.overflow
        y: -root.overflow
        width: root.width + 2 * root.overflow
        height: root.height + 2 * root.overflow
        clip: d.leaving > 0
    }

    component Slide: Item {
        id: slide
        // -1: enters from the left / leaves to the left; +1: the right.
        property int side: 1
        property bool leaving: false
        property real progress: 0
        property Item content: null

        width: root.width
        height: root.height
        x: root.overflow + (leaving ? progress : 1 - progress) * side * root.width
        y: root.overflow
        opacity: Math.max(0, Math.min(1, leaving ? 1 - progress : progress))

        NumberAnimation on progress {
            id: motion
            running: false
            from: 0
            to: 1
            duration: NotchFormat.carouselDuration
            easing: NotchFormat.carouselEasing
            onFinished: {
                if (slide.leaving) {
                    d.leaving--
                    slide.destroy()
                }
            }
        }
        function run() { motion.restart() }
    }

    Component {
        id: slideComponent
        Slide {}
    }

    function make(animated) {
        const slide = slideComponent.createObject(stage, {
            side: root.fromLeading ? -1 : 1,
            progress: animated ? 0 : 1
        })
        const content = root.delegate.createObject(slide)
        content.y = Qt.binding(() => Math.round((slide.height - content.height) / 2))
        slide.content = content
        if (animated)
            slide.run()
        return slide
    }

    function replace() {
        if (!d.ready || (d.shownKey === key && d.current))
            return
        const old = d.current
        d.shownKey = key
        d.current = make(old !== null && root.visible && root.width > 0)
        if (old) {
            if (typeof old.content.retire === "function")
                old.content.retire()
            if (!root.visible) {
                old.destroy()
            } else {
                old.side = root.fromLeading ? 1 : -1
                old.leaving = true
                d.leaving++
                old.progress = 0
                old.run()
            }
        }
    }

    onKeyChanged: replace()
    onDelegateChanged: {
        if (!d.ready)
            return
        d.shownKey = undefined
        if (d.current) {
            d.current.destroy()
            d.current = null
        }
        if (delegate)
            replace()
    }
    Component.onCompleted: {
        d.ready = true
        if (delegate)
            replace()
    }
}
