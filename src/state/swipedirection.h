#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {
namespace carousel {
Q_NAMESPACE
QML_NAMED_ELEMENT(SwipeDirection)

// Which way the carousel moved: left = forward (the next symbol slides in from the right),
// right = back, none = no move.
enum class SwipeDirection { left, right, none };
Q_ENUM_NS(SwipeDirection)

} // namespace carousel

using carousel::SwipeDirection;

// "left", "right" or "none".
QString swipeDirectionName(SwipeDirection direction);

} // namespace velline
