import QtQuick
import Velline.Notch

// Shows one instance of `delegate` for the current `key` (a symbol). When the key changes the
// old instance slides out and fades while a new one slides in and fades in, on the carousel
// spring. New content enters from the trailing (right) edge, or from the leading edge when
// `fromLeading` is set (a step back); the old content leaves toward the opposite edge.
//
// An instance that leaves should stop following live data: if it has a function retire(),
// it is called when the instance starts to leave. An instance that also has a function
// revive() is kept when it has left and comes back for the next key instead of a new one:
// revive() is called while it is still hidden, and should follow live data again and take
// what it shows then as already seen (nothing rolls, fades or flashes into the new key).
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
            if (c.content && c !== d.current && c !== d.spare)
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
        // An instance that has left, hidden, kept for the next key.
        property Item spare: null
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

    component Slide: CarouselSlide {
        id: slide
        property Item content: null

        width: root.width
        height: root.height
        travel: root.width
        inset: root.overflow
        y: root.overflow

        onFinished: {
            if (slide.leaving) {
                d.leaving--
                root.putAway(slide)
            }
        }
    }

    Component {
        id: slideComponent
        Slide {}
    }

    // A slide that has left: kept as the spare when its content can be revived and there is
    // no spare yet, else dropped.
    function putAway(slide) {
        if (d.spare === null && typeof slide.content.revive === "function") {
            slide.visible = false
            d.spare = slide
        } else {
            slide.destroy()
        }
    }
    function dropSpare() {
        if (d.spare) {
            d.spare.destroy()
            d.spare = null
        }
    }

    function make(animated) {
        const side = root.fromLeading ? -1 : 1
        const progress = animated ? 0 : 1
        let slide = d.spare
        if (slide) {
            d.spare = null
            // On top of the others, as a new one would be.
            slide.parent = null
            slide.parent = stage
            slide.side = side
            slide.leaving = false
            slide.progress = progress
            slide.content.revive()
            slide.visible = true
        } else {
            slide = slideComponent.createObject(stage, { side: side, progress: progress })
            const content = root.delegate.createObject(slide)
            content.y = Qt.binding(() => Math.round((slide.height - content.height) / 2))
            slide.content = content
        }
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
                root.putAway(old)
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
        dropSpare()
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
