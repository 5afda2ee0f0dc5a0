#pragma once

#include <QList>
#include <QRect>
#include <QRegion>

namespace velline {

// What the panel's own changes of its visible region have just uncovered, in device pixels.
//
// Without a compositor the X server answers every growth of a window's shape with an Expose
// event for the part that became visible. The frame that grew the shape has drawn that part
// already: the new shape goes out on the same connection before the frame's picture, so the
// picture lands inside it. Qt would answer the event with one more frame and a copy of the whole
// window, on every step of an animated outline. An expose that lies wholly inside area uncovered
// this way, a moment ago, is skipped; any other (a window that lay over the notch going away)
// is drawn as usual.
class UncoveredArea {
public:
    // How long uncovered area waits for its Expose event, in seconds. The server sends it at
    // once; the limit only keeps a later, genuine expose of the same pixels from being skipped
    // (area uncovered under another window gets no event until that window goes).
    static constexpr double lifetime = 0.5;

    void add(const QRegion& region, double now);
    void clear();

    // One rectangle of an expose series; `more` when further rectangles of the same series
    // follow. True when the panel may skip it. Once a rectangle of a series went to Qt, the
    // series' last one goes too, so Qt hands on what it gathered.
    bool skip(const QRect& rect, bool more, double now);

    bool isEmpty() const { return m_parts.isEmpty(); }

private:
    struct Part {
        QRegion region;
        double at;
    };
    QList<Part> m_parts;
    bool m_seriesPassed = false;
};

} // namespace velline
