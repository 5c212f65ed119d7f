// Desktop notifications for power and link events. On Linux they go to the
// freedesktop notification service on the session bus, without ever waiting
// for it; where no service answers, and on Windows, the tray icon's balloon
// shows them instead.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

class desktopNotifier : public QObject
{
public:
    // How the tray shows a notification the service cannot.
    using fallback = std::function<void(const QString& summary, const QString& body, bool critical)>;

    // How long an unanswered call may keep later notifications waiting.
    static constexpr int kReplyTimeoutMs = 5000;

    explicit desktopNotifier(fallback showInstead, QObject* parent = nullptr, int replyTimeoutMs = kReplyTimeoutMs);
    ~desktopNotifier() override;

    // Shows a notification. One with a key replaces the one shown last with
    // the same key (DC restored takes the place of DC lost).
    void notify(const QString& summary, const QString& body, bool critical, const QString& key = QString());

    // Calls to the service not yet answered: never more than one.
    int callsInFlight() const;

    struct impl;

private:
    std::unique_ptr<impl> d;
};

} // namespace platform
