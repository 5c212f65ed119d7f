#include "desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <QVariantMap>
#include <QVector>

#include <atomic>
#include <memory>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kAppName = QStringLiteral("Ulmavox");
// Notifications that wait for an answer to the one before; beyond that the
// tray shows them at once.
constexpr int kMaxWaiting = 16;
// After a call that timed out the service is left alone for a while.
constexpr qint64 kSilentServiceBreakMs = 60000;

// What the probe found; shared, since a probe stuck on a silent daemon may
// outlive the notifier.
struct busState
{
    std::atomic<bool> checked{false};
    std::atomic<bool> there{false};
};

struct note
{
    QString summary;
    QString body;
    bool critical = false;
    QString key;
};

} // namespace

struct desktopNotifier::impl
{
    desktopNotifier* q = nullptr;
    fallback showInstead;
    int timeoutMs = kReplyTimeoutMs;
    // Connecting to the bus waits for its daemon: that is done once, off the
    // GUI thread.
    QThread* probe = nullptr;
    std::shared_ptr<busState> bus = std::make_shared<busState>();
    bool inFlight = false;
    QVector<note> waiting;
    QHash<QString, uint> shownIds;
    QElapsedTimer silentSince;

    void show(const note& n)
    {
        if (!bus->checked.load()) {
            queueOrFallBack(n);
            return;
        }
        const bool resting = silentSince.isValid() && silentSince.elapsed() < kSilentServiceBreakMs;
        if (!bus->there.load() || resting) {
            fallBack(n);
            return;
        }
        if (inFlight) {
            queueOrFallBack(n);
            return;
        }
        send(n);
    }

    void queueOrFallBack(const note& n)
    {
        if (waiting.size() < kMaxWaiting)
            waiting.append(n);
        else
            fallBack(n);
    }

    void fallBack(const note& n)
    {
        if (showInstead)
            showInstead(n.summary, n.body, n.critical);
    }

    void send(const note& n)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(n.critical ? 2 : 1));
        call << kAppName << shownIds.value(n.key, 0u) << QString() << n.summary << n.body << QStringList()
             << hints << -1;
        inFlight = true;
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, timeoutMs), q);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, q, [this, n](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            inFlight = false;
            const QDBusPendingReply<uint> reply = *w;
            if (reply.isError()) {
                if (reply.error().type() == QDBusError::NoReply || reply.error().type() == QDBusError::Timeout)
                    silentSince.start();
                fallBack(n);
                flushToFallback();
                return;
            }
            if (!n.key.isEmpty())
                shownIds.insert(n.key, reply.value());
            sendNext();
        });
    }

    void sendNext()
    {
        if (waiting.isEmpty())
            return;
        const note next = waiting.takeFirst();
        show(next);
    }

    void flushToFallback()
    {
        const QVector<note> all = waiting;
        waiting.clear();
        for (const note& n : all)
            fallBack(n);
    }

    void busProbed()
    {
        const QVector<note> all = waiting;
        waiting.clear();
        for (const note& n : all)
            show(n);
    }
};

constexpr int desktopNotifier::kReplyTimeoutMs;

desktopNotifier::desktopNotifier(fallback showInstead, QObject* parent, int replyTimeoutMs)
    : QObject(parent)
    , d(new impl)
{
    d->q = this;
    d->showInstead = std::move(showInstead);
    d->timeoutMs = replyTimeoutMs;
    std::shared_ptr<busState> bus = d->bus;
    d->probe = QThread::create([bus] {
        bus->there.store(QDBusConnection::sessionBus().isConnected());
        bus->checked.store(true);
    });
    impl* state = d.get();
    connect(d->probe, &QThread::finished, this, [state] { state->busProbed(); });
    d->probe->start();
}

desktopNotifier::~desktopNotifier()
{
    // A bus daemon that never answers keeps the probe in its connect; it is
    // left to end with the process rather than hold up the window.
    if (d->probe->wait(100))
        delete d->probe;
}

void desktopNotifier::notify(const QString& summary, const QString& body, bool critical, const QString& key)
{
    d->show(note{summary, body, critical, key});
}

int desktopNotifier::callsInFlight() const
{
    return d->inFlight ? 1 : 0;
}

} // namespace platform
