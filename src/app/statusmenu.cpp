#include "app/statusmenu.h"

#include "app/appdelegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTranslator>

namespace velline {

namespace {

// Qt names the Meta modifier "Meta" in shortcut texts; Linux desktops call it Super.
class KeyNameTranslator final : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*,
                      int) const override {
        if (qstrcmp(context, "QShortcut") == 0 && qstrcmp(sourceText, "Meta") == 0)
            return QStringLiteral("Super");
        return {};
    }
};

} // namespace

const QList<StatusMenuEntry>& statusMenuEntries() {
    static const QList<StatusMenuEntry> entries{
        {false, QStringLiteral("Add Stock\u2026"), QKeySequence(Qt::META | Qt::Key_K),
         QStringLiteral("quick-add")},
        {false, QStringLiteral("Settings\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
         QStringLiteral("settings")},
        {false, QStringLiteral("Refresh Now"), QKeySequence(Qt::CTRL | Qt::Key_R),
         QStringLiteral("refresh")},
        {true, {}, {}, {}},
        {false, QStringLiteral("Check for Updates\u2026"), QKeySequence(),
         QStringLiteral("check-for-updates")},
        {true, {}, {}, {}},
        {false, QStringLiteral("Quit Velline"), QKeySequence(Qt::CTRL | Qt::Key_Q),
         QStringLiteral("quit")},
    };
    return entries;
}

QMenu* buildStatusMenu(AppDelegate& delegate, QWidget* parent) {
    installKeyNames();
    auto* menu = new QMenu(parent);
    menu->setTitle(QStringLiteral("Velline"));
    QPointer<AppDelegate> target(&delegate);
    for (const StatusMenuEntry& entry : statusMenuEntries()) {
        if (entry.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(entry.title);
        action->setObjectName(entry.command);
        action->setShortcut(entry.shortcut);
        // The hot key is global; the others act while the menu is open.
        action->setShortcutContext(Qt::WidgetShortcut);
        QObject::connect(action, &QAction::triggered, menu, [target, command = entry.command] {
            if (target)
                target->performCommand(command);
        });
    }
    return menu;
}

void installKeyNames() {
    static bool installed = false;
    if (installed || !QCoreApplication::instance())
        return;
    installed = true;
    QCoreApplication::installTranslator(new KeyNameTranslator(QCoreApplication::instance()));
}

} // namespace velline
