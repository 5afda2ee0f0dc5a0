#pragma once

#include <QPainterPath>
#include <QQuickView>
#include <QRegion>

#include <optional>

namespace velline {

class QuickAddController;

// The quick-add window: frameless, above other windows, out of the task bar, translucent where a
// compositor runs. Unlike the notch it takes the keyboard. Without a compositor only the card
// is visible (a bounding shape), since transparent pixels would show black.
class QuickAddPanel : public QQuickView {
    Q_OBJECT
public:
    // Room for the card's shadow on every side of the window.
    static constexpr qreal kShadowMargin = 22;
    static constexpr qreal kCornerRadius = 14;

    QuickAddPanel(QQmlEngine* engine, QuickAddController* controller);
    ~QuickAddPanel() override;

    // The card in window coordinates for a window of `size`.
    static QPainterPath cardPath(const QSizeF& size);
    // The visible part of the window without a compositor; nullopt with one.
    std::optional<QRegion> boundingRegion() const { return m_bounding; }

    // Shows the window in front and asks for the keyboard.
    void present();

Q_SIGNALS:
    // The window had the keyboard and lost it while shown.
    void focusLost();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;

private:
    void applyShape();

    std::optional<QRegion> m_bounding;
    bool m_shapeApplied = false;
    bool m_hadFocus = false;
};

} // namespace velline
