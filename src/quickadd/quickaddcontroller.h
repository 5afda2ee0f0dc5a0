#pragma once

#include "input/globalhotkey.h"

#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

class QScreen;

namespace velline {

class AppState;
class QuickAddPanel;
class UserPreferences;

// The quick-add panel and what it does: the typed ticker (filtered as it is typed), the recent
// symbols, adding a symbol (tracked, made active, refreshed) and showing and hiding the panel.
// The panel is built on the first show and reused; the typed text survives a hide, except after
// a successful add. Owns the global hot key that opens the panel.
class QuickAddController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("QuickAddController is created by the application")
    // The field's text, always in its filtered form (see sanitizeTicker).
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    // The first six recently added symbols, newest first, as {symbol, tracked} maps.
    Q_PROPERTY(QVariantList recentRows READ recentRows NOTIFY recentRowsChanged)
    // The recent list shows while the field is empty and there are recents.
    Q_PROPERTY(bool showsRecents READ showsRecents NOTIFY showsRecentsChanged)
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY visibleChanged)
    // False without a compositor: the card is then drawn opaque.
    Q_PROPERTY(bool translucent READ translucent NOTIFY translucentChanged)
    Q_PROPERTY(QString placeholderText READ placeholderText CONSTANT)
    Q_PROPERTY(QString recentHeading READ recentHeading CONSTANT)
    Q_PROPERTY(QString trackedCaption READ trackedCaption CONSTANT)
    Q_PROPERTY(QString returnBadge READ returnBadge CONSTANT)

public:
    static constexpr int kMaxRecentRows = 6;

    QuickAddController(UserPreferences* prefs, AppState* state, QObject* parent = nullptr);
    ~QuickAddController() override;

    // The process-wide controller on the shared preferences and watch state.
    static QuickAddController& shared();

    // The engine the panel's view is built with (the program's own, so the shared QML
    // singletons are the same objects); without one the panel makes its own. Set before the
    // first show. Changing it drops a panel the previous engine built.
    void setEngine(QQmlEngine* engine);

    GlobalHotKey& hotKey() { return m_hotKey; }

    // Hides a visible panel, shows a hidden one.
    Q_INVOKABLE void toggle();
    // Builds the panel on first use, places it on the screen under the pointer and gives it
    // the keyboard.
    Q_INVOKABLE void show();
    Q_INVOKABLE void hide();

    // Return in the field: adds the filtered text unless it is empty, then clears the field.
    // Returns whether something was added.
    Q_INVOKABLE bool submit();
    // A recent row: the same path as a typed symbol.
    Q_INVOKABLE void choose(const QString& symbol);
    // The view's size with its shadow margin; the panel keeps its top edge.
    Q_INVOKABLE void reportSize(qreal width, qreal height);

    // Adds `text` through the preferences, makes it the active symbol, starts a refresh and
    // hides the panel. Blank text does nothing (and returns nothing).
    std::optional<QString> add(const QString& text);

    QString query() const { return m_query; }
    void setQuery(const QString& text);
    QVariantList recentRows() const;
    bool showsRecents() const;
    bool isVisible() const;
    bool translucent() const;

    static QString placeholderText();
    static QString recentHeading();
    static QString trackedCaption();
    static QString returnBadge();

    // The panel, once built.
    QuickAddPanel* panel() const { return m_panel.get(); }

Q_SIGNALS:
    void queryChanged();
    void recentRowsChanged();
    void showsRecentsChanged();
    void visibleChanged();
    void translucentChanged();
    // The panel was shown and asked for the keyboard.
    void shown();
    void added(const QString& symbol);

private:
    void makePanel();
    void positionPanel();
    static QScreen* screenUnderPointer();

    UserPreferences* m_prefs;
    AppState* m_state;
    QPointer<QQmlEngine> m_engine;
    std::unique_ptr<QQmlEngine> m_ownEngine;
    std::unique_ptr<QuickAddPanel> m_panel;
    GlobalHotKey m_hotKey;
    QString m_query;
    bool m_showsRecents = false;
};

} // namespace velline
