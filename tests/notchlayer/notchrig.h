// What the tests of the notch on a real X server share: the colours, the three slots' content,
// a backdrop window that records clicks, the look of the compact notch, and a notch that expands
// while hovered.
#pragma once

#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchpanel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRasterWindow>
#include <QScreen>
#include <QTest>

namespace velline::panelrig {

inline const QRgb kGrey = qRgb(0xc8, 0xc8, 0xc8);
inline const QRgb kBlack = qRgb(0, 0, 0);
inline const QRgb kGreen = qRgb(0x34, 0xc7, 0x59);
inline const QRgb kBlue = qRgb(0x0a, 0x84, 0xff);
inline const QRgb kOrange = qRgb(0xff, 0x9f, 0x0a);

// A window under the notch that records where it is clicked.
class Backdrop : public QRasterWindow {
public:
    QList<QPoint> presses;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(kGrey));
    }
    void mousePressEvent(QMouseEvent* e) override { presses << e->globalPosition().toPoint(); }
};

inline QRgb opaque(const QImage& img, int x, int y) {
    return img.pixel(x, y) | 0xff000000;
}

inline bool isBlack(QRgb c) {
    return qRed(c) < 12 && qGreen(c) < 12 && qBlue(c) < 12;
}

// The run of black pixels on row `y` through column `x`, as [left, right]; {-1, -1} if none.
inline QPair<int, int> blackRun(const QImage& img, int x, int y) {
    if (y < 0 || y >= img.height() || !isBlack(img.pixel(x, y)))
        return {-1, -1};
    int left = x;
    int right = x;
    while (left > 0 && isBlack(img.pixel(left - 1, y)))
        --left;
    while (right < img.width() - 1 && isBlack(img.pixel(right + 1, y)))
        ++right;
    return {left, right};
}

// What is wrong with the compact notch on `img`, hanging from row `top` (empty: nothing): a black
// gap exactly the notch wide and centred on `centre`, the two sides beside it, and one black
// body around them from the top down to below the sides.
inline QString compactNotchFault(const QImage& img, int centre, int top = 0) {
    const int row = top + 16;
    const auto [left, right] = blackRun(img, centre, row);
    if (left < 0 || std::abs(left - (centre - 150)) > 1 || right - left + 1 != 300)
        return QStringLiteral("gap %1..%2 on row %3").arg(left).arg(right).arg(row);
    if (opaque(img, left - 50, row) != kGreen || opaque(img, right + 30, row) != kBlue)
        return QStringLiteral("sides not drawn");
    for (const QPoint& p : {QPoint(left - 104, row), QPoint(right + 64, row), QPoint(centre, top),
                            QPoint(centre, top + 26)}) {
        if (!isBlack(img.pixel(p)))
            return QStringLiteral("not black at %1,%2").arg(p.x()).arg(p.y());
    }
    return {};
}

// What `fault()` finds once the notch has come to rest (empty: nothing), trying for up to
// `timeoutMs`. The notch's springs overshoot, so on its way the notch passes through the right
// look for a frame or two: a picture only counts when it is still right `restMs` later, longer
// than any of its springs take to settle.
template <typename Fault>
QString steadyFault(Fault fault, int timeoutMs = 10000, int restMs = 1000) {
    QElapsedTimer waited;
    waited.start();
    QString found;
    while (true) {
        found = fault();
        if (found.isEmpty()) {
            QTest::qWait(restMs);
            found = fault();
            if (found.isEmpty())
                return {};
        }
        if (waited.elapsed() >= timeoutMs)
            return found;
        QTest::qWait(50);
    }
}

inline NotchPanel* visiblePanel() {
    const auto windows = QGuiApplication::topLevelWindows();
    for (QWindow* w : windows) {
        if (auto* p = qobject_cast<NotchPanel*>(w); p && p->isVisible())
            return p;
    }
    return nullptr;
}

// Sides of 100 and 60 points, a card of 340 x 120; the owner's part: expand while hovered,
// compact otherwise. Shown compact on the primary screen.
inline std::unique_ptr<NotchController> hoverNotch(QQmlEngine& engine) {
    const auto content = [&engine](const char* qml) {
        auto* c = new QQmlComponent(&engine, &engine);
        c->setData(qml, QUrl());
        return NotchController::fromComponent(c);
    };
    auto notch = std::make_unique<NotchController>(NotchHoverOption::all, NotchStyle::notch(),
                                                   content(R"(import QtQuick
            Rectangle { implicitWidth: 340; implicitHeight: 120; color: "#ff9f0a" })"),
                                                   content(R"(import QtQuick
            Rectangle { implicitWidth: 100; implicitHeight: 20; color: "#34c759" })"),
                                                   content(R"(import QtQuick
            Rectangle { implicitWidth: 60; implicitHeight: 20; color: "#0a84ff" })"),
                                                   &engine);
    NotchController* n = notch.get();
    QObject::connect(n, &NotchController::isHoveringChanged, n, [n] {
        if (n->isHovering())
            n->expand(QGuiApplication::primaryScreen());
        else
            n->compact(QGuiApplication::primaryScreen());
    });
    n->compact(QGuiApplication::primaryScreen());
    return notch;
}

} // namespace velline::panelrig
