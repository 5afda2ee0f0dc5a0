#pragma once

#include "notchlayer/notchanimation.h"

#include <QFlags>
#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace velline {

namespace notchtypes {
Q_NAMESPACE

// The visible states of the notch, in this order.
enum class NotchState { expanded, compact, hidden };
Q_ENUM_NS(NotchState)

// The slot a content view is drawn in.
enum class NotchSection { expanded, compactLeading, compactTrailing };
Q_ENUM_NS(NotchSection)

} // namespace notchtypes

using notchtypes::NotchSection;
using notchtypes::NotchState;

// What the notch does while the pointer is over it. Combine with |; `all` is every option.
enum class NotchHoverOption : int {
    keepVisible = 1,    // a hide request waits while the pointer is over the notch
    hapticFeedback = 2, // a haptic tick on each hover change (no such device on Linux)
    increaseShadow = 4, // stronger shadow while hovered
    all = 7,
};
Q_DECLARE_FLAGS(NotchHoverBehavior, NotchHoverOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(NotchHoverBehavior)

// How the notch is drawn: hugging a camera housing (`notch`), as a rounded pill below the top
// panel (`floating`), or chosen per screen when a panel is built (`automatic`).
class NotchStyle {
    Q_GADGET
    QML_VALUE_TYPE(notchStyle)
    Q_PROPERTY(bool isNotch READ isNotch CONSTANT)
    Q_PROPERTY(bool isFloating READ isFloating CONSTANT)
    Q_PROPERTY(bool isAutomatic READ isAutomatic CONSTANT)
    Q_PROPERTY(qreal topCornerRadius READ topCornerRadius CONSTANT)
    Q_PROPERTY(qreal bottomCornerRadius READ bottomCornerRadius CONSTANT)
    Q_PROPERTY(qreal cornerRadius READ cornerRadius CONSTANT)
public:
    enum class Kind { notch, floating, automatic };

    NotchStyle() = default; // automatic
    static NotchStyle notch(qreal topCornerRadius, qreal bottomCornerRadius);
    static NotchStyle floating(qreal cornerRadius);
    static NotchStyle automatic() { return NotchStyle(); }
    // The presets: notch(15, 20) and floating(20).
    static NotchStyle notch() { return notch(15, 20); }
    static NotchStyle floating() { return floating(20); }

    Kind kind() const { return m_kind; }
    bool isNotch() const { return m_kind == Kind::notch; }
    bool isFloating() const { return m_kind == Kind::floating; }
    bool isAutomatic() const { return m_kind == Kind::automatic; }
    // Payloads; 0 where the style has no such radius.
    qreal topCornerRadius() const { return m_top; }
    qreal bottomCornerRadius() const { return m_bottom; }
    qreal cornerRadius() const { return m_corner; }

    // Same kind and equal radii; `automatic` equals only `automatic`.
    bool operator==(const NotchStyle& o) const {
        return m_kind == o.m_kind && m_top == o.m_top && m_bottom == o.m_bottom &&
               m_corner == o.m_corner;
    }

private:
    Kind m_kind = Kind::automatic;
    qreal m_top = 0;
    qreal m_bottom = 0;
    qreal m_corner = 0;
};

// The animations of the state changes. An absent animation falls back to the controller's
// default spring for that change.
struct NotchTransitionConfiguration {
    std::optional<NotchAnimation> openingAnimation;    // hidden → visible
    std::optional<NotchAnimation> closingAnimation;    // → hidden
    std::optional<NotchAnimation> conversionAnimation; // compact ↔ expanded
    // When false, switching between compact and expanded first passes through hidden.
    bool skipIntermediateHides = false;

    bool operator==(const NotchTransitionConfiguration&) const = default;
};

} // namespace velline

Q_DECLARE_METATYPE(velline::NotchStyle)
