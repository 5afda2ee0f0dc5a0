#include "app/statusmenu.h"

#include "app/appdelegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
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

// ---- dbusmenu ----

const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kMenuPath = QStringLiteral("/MenuBar");

// One node of GetLayout's answer, (ia{sv}av): the children travel as variants.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

// One item of GetGroupProperties' answer, (ia{sv}).
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

} // namespace
} // namespace velline

Q_DECLARE_METATYPE(velline::MenuLayout)
Q_DECLARE_METATYPE(velline::MenuItemProperties)
Q_DECLARE_METATYPE(QList<velline::MenuItemProperties>)

namespace velline {
namespace {

QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayout& node) {
    arg.beginStructure();
    arg << node.id << node.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : node.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

// Only sent, never read; the type system wants both directions.
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayout& node) {
    arg.beginStructure();
    arg >> node.id >> node.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

void registerMenuTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<QList<MenuItemProperties>>();
        qDBusRegisterMetaType<QList<QStringList>>();
        qDBusRegisterMetaType<QList<int>>();
        return true;
    }();
    Q_UNUSED(registered)
}

// X keysym names of the keys that are not letters, digits or function keys.
struct KeysymName {
    Qt::Key key;
    const char* name;
};
// clang-format off
constexpr KeysymName kKeysymNames[] = {
    {Qt::Key_Space, "space"}, {Qt::Key_Exclam, "exclam"}, {Qt::Key_QuoteDbl, "quotedbl"},
    {Qt::Key_NumberSign, "numbersign"}, {Qt::Key_Dollar, "dollar"}, {Qt::Key_Percent, "percent"},
    {Qt::Key_Ampersand, "ampersand"}, {Qt::Key_Apostrophe, "apostrophe"},
    {Qt::Key_ParenLeft, "parenleft"}, {Qt::Key_ParenRight, "parenright"},
    {Qt::Key_Asterisk, "asterisk"}, {Qt::Key_Plus, "plus"}, {Qt::Key_Comma, "comma"},
    {Qt::Key_Minus, "minus"}, {Qt::Key_Period, "period"}, {Qt::Key_Slash, "slash"},
    {Qt::Key_Colon, "colon"}, {Qt::Key_Semicolon, "semicolon"}, {Qt::Key_Less, "less"},
    {Qt::Key_Equal, "equal"}, {Qt::Key_Greater, "greater"}, {Qt::Key_Question, "question"},
    {Qt::Key_At, "at"}, {Qt::Key_BracketLeft, "bracketleft"}, {Qt::Key_Backslash, "backslash"},
    {Qt::Key_BracketRight, "bracketright"}, {Qt::Key_AsciiCircum, "asciicircum"},
    {Qt::Key_Underscore, "underscore"}, {Qt::Key_QuoteLeft, "grave"},
    {Qt::Key_BraceLeft, "braceleft"}, {Qt::Key_Bar, "bar"}, {Qt::Key_BraceRight, "braceright"},
    {Qt::Key_AsciiTilde, "asciitilde"}, {Qt::Key_Return, "Return"}, {Qt::Key_Enter, "KP_Enter"},
    {Qt::Key_Escape, "Escape"}, {Qt::Key_Tab, "Tab"}, {Qt::Key_Backspace, "BackSpace"},
    {Qt::Key_Delete, "Delete"}, {Qt::Key_Insert, "Insert"}, {Qt::Key_Home, "Home"},
    {Qt::Key_End, "End"}, {Qt::Key_PageUp, "Page_Up"}, {Qt::Key_PageDown, "Page_Down"},
    {Qt::Key_Left, "Left"}, {Qt::Key_Right, "Right"}, {Qt::Key_Up, "Up"}, {Qt::Key_Down, "Down"},
};
// clang-format on

QString keysymName(Qt::Key key) {
    for (const KeysymName& entry : kKeysymNames) {
        if (entry.key == key)
            return QLatin1String(entry.name);
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return QString(QChar(static_cast<char16_t>(key)));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    // Anything else as Qt names it; hosts that cannot read it show no hint.
    return QKeySequence(key).toString(QKeySequence::PortableText);
}

// The properties of entry `index` (its item id is index + 1), all or only those `names`.
QVariantMap entryProperties(qsizetype index, const QStringList& names) {
    const StatusMenuEntry& entry = statusMenuEntries().at(index);
    QVariantMap properties;
    if (entry.separator) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        // dbusmenu marks a mnemonic with "_"; our titles have none, so a "_" stays one.
        QString label = entry.title;
        label.replace(QLatin1Char('_'), QStringLiteral("__"));
        properties.insert(QStringLiteral("label"), label);
        properties.insert(QStringLiteral("enabled"), true);
        if (!entry.shortcut.isEmpty())
            properties.insert(QStringLiteral("shortcut"),
                              QVariant::fromValue(dbusMenuShortcut(entry.shortcut)));
    }
    properties.insert(QStringLiteral("visible"), true);
    if (names.isEmpty())
        return properties;
    QVariantMap wanted;
    for (const QString& name : names) {
        if (properties.contains(name))
            wanted.insert(name, properties.value(name));
    }
    return wanted;
}

qsizetype entryIndex(int id) {
    const qsizetype index = static_cast<qsizetype>(id) - 1;
    return index >= 0 && index < statusMenuEntries().size() ? index : -1;
}

MenuLayout layoutOf(int id, int depth, const QStringList& names) {
    MenuLayout node;
    node.id = id;
    if (id != 0) {
        node.properties = entryProperties(entryIndex(id), names);
        return node;
    }
    node.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (depth == 0)
        return node;
    for (qsizetype i = 0; i < statusMenuEntries().size(); ++i)
        node.children.append(layoutOf(static_cast<int>(i) + 1, 0, names));
    return node;
}

QVariant menuProperty(const QString& name) {
    if (name == QLatin1String("Version"))
        return 3u;
    if (name == QLatin1String("TextDirection"))
        return QStringLiteral("ltr");
    if (name == QLatin1String("Status"))
        return QStringLiteral("normal");
    if (name == QLatin1String("IconThemePath"))
        return QStringList();
    return {};
}

QDBusMessage invalidId(const QDBusMessage& message, int id) {
    return message.createErrorReply(QDBusError::InvalidArgs,
                                    QStringLiteral("no menu item %1").arg(id));
}

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

QList<QStringList> dbusMenuShortcut(const QKeySequence& sequence) {
    QList<QStringList> keys;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        QStringList tokens;
        if (modifiers & Qt::ControlModifier)
            tokens << QStringLiteral("Control");
        if (modifiers & Qt::AltModifier)
            tokens << QStringLiteral("Alt");
        if (modifiers & Qt::ShiftModifier)
            tokens << QStringLiteral("Shift");
        if (modifiers & Qt::MetaModifier)
            tokens << QStringLiteral("Super");
        tokens << keysymName(combination.key());
        keys << tokens;
    }
    return keys;
}

StatusMenuExport::StatusMenuExport(AppDelegate& delegate, QObject* parent)
    : QDBusVirtualObject(parent), m_delegate(&delegate) {
    registerMenuTypes();
}

QString StatusMenuExport::introspect(const QString&) const {
    return QStringLiteral(
        "<interface name=\"com.canonical.dbusmenu\">"
        "<property name=\"Version\" type=\"u\" access=\"read\"/>"
        "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
        "<property name=\"Status\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconThemePath\" type=\"as\" access=\"read\"/>"
        "<method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"i\" direction=\"in\"/><arg type=\"as\" direction=\"in\"/>"
        "<arg type=\"u\" direction=\"out\"/><arg type=\"(ia{sv}av)\" direction=\"out\"/>"
        "</method>"
        "<method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/>"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"a(ia{sv})\" direction=\"out\"/>"
        "</method>"
        "<method name=\"GetProperty\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>"
        "<method name=\"Event\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"v\" direction=\"in\"/>"
        "<arg type=\"u\" direction=\"in\"/></method>"
        "<method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/>"
        "<arg type=\"ai\" direction=\"out\"/></method>"
        "<method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"b\" direction=\"out\"/></method>"
        "<method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/>"
        "<arg type=\"ai\" direction=\"out\"/><arg type=\"ai\" direction=\"out\"/></method>"
        "<signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\"/>"
        "<arg type=\"a(ias)\"/></signal>"
        "<signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>"
        "<signal name=\"ItemActivationRequested\"><arg type=\"i\"/><arg type=\"u\"/></signal>"
        "</interface>");
}

bool StatusMenuExport::handleMessage(const QDBusMessage& message,
                                     const QDBusConnection& connection) {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    const auto reply = [&](const QList<QVariant>& values) {
        connection.send(message.createReply(values));
        return true;
    };

    if (member == QLatin1String("Introspect")) {
        return reply({QStringLiteral("<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object "
                                     "Introspection 1.0//EN\" "
                                     "\"http://www.freedesktop.org/standards/dbus/1.0/"
                                     "introspect.dtd\"><node>%1</node>")
                          .arg(introspect(message.path()))});
    }
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        if (member == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char* name : {"Version", "TextDirection", "Status", "IconThemePath"})
                all.insert(QLatin1String(name), menuProperty(QLatin1String(name)));
            return reply({all});
        }
        if (member == QLatin1String("Get")) {
            const QVariant value = menuProperty(args.value(1).toString());
            if (!value.isValid()) {
                connection.send(message.createErrorReply(QDBusError::UnknownProperty,
                                                         args.value(1).toString()));
                return true;
            }
            return reply({QVariant::fromValue(QDBusVariant(value))});
        }
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        return true;
    }

    if (member == QLatin1String("GetLayout")) {
        const int parent = args.value(0).toInt();
        if (parent != 0 && entryIndex(parent) < 0)
            return connection.send(invalidId(message, parent));
        return reply({1u, QVariant::fromValue(layoutOf(parent, args.value(1).toInt(),
                                                       args.value(2).toStringList()))});
    }
    if (member == QLatin1String("GetGroupProperties")) {
        const QList<int> ids = qdbus_cast<QList<int>>(args.value(0));
        const QStringList names = args.value(1).toStringList();
        QList<MenuItemProperties> items;
        for (int id : ids) {
            if (id == 0)
                items.append({0, layoutOf(0, 0, names).properties});
            else if (entryIndex(id) >= 0)
                items.append({id, entryProperties(entryIndex(id), names)});
        }
        return reply({QVariant::fromValue(items)});
    }
    if (member == QLatin1String("GetProperty")) {
        const int id = args.value(0).toInt();
        const QVariantMap properties =
            id == 0 ? layoutOf(0, 0, {}).properties
                    : (entryIndex(id) >= 0 ? entryProperties(entryIndex(id), {}) : QVariantMap());
        const QString name = args.value(1).toString();
        if (!properties.contains(name))
            return connection.send(invalidId(message, id));
        return reply({QVariant::fromValue(QDBusVariant(properties.value(name)))});
    }
    if (member == QLatin1String("AboutToShow"))
        return reply({false});
    if (member == QLatin1String("AboutToShowGroup"))
        return reply({QVariant::fromValue(QList<int>()), QVariant::fromValue(QList<int>())});

    // Clicks: answered first, then run, so a command that ends the program still answers.
    QList<std::pair<int, QString>> events;
    QList<int> unknown;
    if (member == QLatin1String("Event")) {
        events.append({args.value(0).toInt(), args.value(1).toString()});
    } else if (member == QLatin1String("EventGroup")) {
        const QDBusArgument list = args.value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            int id = 0;
            QString kind;
            QDBusVariant data;
            uint timestamp = 0;
            list.beginStructure();
            list >> id >> kind >> data >> timestamp;
            list.endStructure();
            events.append({id, kind});
        }
        list.endArray();
    } else {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        return true;
    }
    QStringList commands;
    for (const auto& [id, kind] : events) {
        const qsizetype index = entryIndex(id);
        if (index < 0) {
            unknown.append(id);
            continue;
        }
        const StatusMenuEntry& entry = statusMenuEntries().at(index);
        if (kind == QLatin1String("clicked") && !entry.separator)
            commands.append(entry.command);
    }
    if (member == QLatin1String("Event") && !unknown.isEmpty())
        connection.send(invalidId(message, unknown.first()));
    else if (member == QLatin1String("Event"))
        connection.send(message.createReply());
    else
        connection.send(message.createReply(QVariant::fromValue(unknown)));
    for (const QString& command : commands) {
        if (m_delegate)
            m_delegate->performCommand(command);
    }
    return true;
}

bool exportStatusMenu(AppDelegate& delegate, QObject* owner) {
    // Qt gives each tray icon a bus connection of its own, named after the icon.
    for (int instance = 16; instance >= 1; --instance) {
        QDBusConnection bus(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(instance));
        if (!bus.isConnected() || !bus.objectRegisteredAt(kMenuPath))
            continue;
        bus.unregisterObject(kMenuPath);
        auto* exported = new StatusMenuExport(delegate, owner);
        if (!bus.registerVirtualObject(kMenuPath, exported)) {
            delete exported;
            return false;
        }
        return true;
    }
    return false;
}

void installKeyNames() {
    static bool installed = false;
    if (installed || !QCoreApplication::instance())
        return;
    installed = true;
    QCoreApplication::installTranslator(new KeyNameTranslator(QCoreApplication::instance()));
}

} // namespace velline
