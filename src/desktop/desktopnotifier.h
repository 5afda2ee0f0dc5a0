#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace velline {

// Sends desktop notifications through org.freedesktop.Notifications. Each one replaces the
// previous notification of this sender, so at most one Velline notification is on screen.
// Without a bus or a notification service nothing happens.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    static const QString kService;
    static const QString kPath;
    static const QString kInterface;

    // Asynchronous; the server's id of the notification is kept to replace it next time. While
    // a call is unanswered only the newest later text is kept and sent after the answer.
    void notify(const QString& summary, const QString& body);

    // The id the server gave the last notification, 0 before the first answer.
    uint lastId() const { return m_lastId; }

Q_SIGNALS:
    // The server answered a notify() with this id.
    void delivered(uint id);
    // A notify() found no server, or the server refused it.
    void refused();

private:
    void send(const QString& summary, const QString& body);

    QDBusConnection m_bus;
    uint m_lastId = 0;
    bool m_inFlight = false;
    std::optional<std::pair<QString, QString>> m_waiting;
};

} // namespace velline
