// Desktop notifications on a private session bus (the test runs under
// dbus-run-session): a notification service of the test's own that answers,
// none at all, and one that never answers; the tray fallback in the last two.
#include "desktopnotifier.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

struct call
{
    uint replacesId;
    QString summary;
    int urgency;
};

// The notification service, on a bus connection of its own so that the
// notifier's calls really travel through the bus daemon.
class fakeNotifications : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit fakeNotifications(bool answers)
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake")))
        , m_answers(answers)
    {
        m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(kService);
    }
    ~fakeNotifications() override
    {
        m_bus.unregisterService(kService);
        m_bus.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    }

    QList<call> calls;

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap& hints, int)
    {
        calls.append({replacesId, summary, hints.value(QStringLiteral("urgency")).toInt()});
        if (!m_answers)
            setDelayedReply(true);   // and never replies
        return 40u + static_cast<uint>(calls.size());
    }

private:
    QDBusConnection m_bus;
    bool m_answers;
};

struct shownByTray
{
    QStringList lines;   // "summary (critical)" or "summary"
    platform::desktopNotifier::fallback sink()
    {
        return [this](const QString& summary, const QString&, bool critical) {
            lines << (critical ? summary + QStringLiteral(" (critical)") : summary);
        };
    }
};

void notifyLossAndReturn(platform::desktopNotifier& notifier)
{
    notifier.notify(QStringLiteral("DC input lost"), QStringLiteral("on battery"), true, QStringLiteral("dc"));
    notifier.notify(QStringLiteral("DC input restored"), QStringLiteral("on DC"), false, QStringLiteral("dc"));
}

} // namespace

class tst_desktopNotifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void serviceShowsThemAndReplacesLossByReturn();
    void noServiceFallsBackToTheTray();
    void silentServiceCostsOneCallThenTheTray();
};

void tst_desktopNotifier::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QFAIL("no session bus: run the test under dbus-run-session");
}

void tst_desktopNotifier::serviceShowsThemAndReplacesLossByReturn()
{
    fakeNotifications service(true);
    shownByTray tray;
    platform::desktopNotifier notifier(tray.sink());

    // The service runs on this very thread: a notifier that waited for the
    // answer would wait for itself until the call timed out.
    notifyLossAndReturn(notifier);
    QTRY_COMPARE(service.calls.size(), 2);
    QCOMPARE(service.calls[0].summary, QStringLiteral("DC input lost"));
    QCOMPARE(service.calls[0].urgency, 2);
    QCOMPARE(service.calls[0].replacesId, 0u);
    QCOMPARE(service.calls[1].summary, QStringLiteral("DC input restored"));
    QCOMPARE(service.calls[1].urgency, 1);
    QCOMPARE(service.calls[1].replacesId, 41u);
    QTRY_COMPARE(notifier.callsInFlight(), 0);
    // Without a key nothing is replaced.
    notifier.notify(QStringLiteral("SW on"), QString(), false);
    QTRY_COMPARE(service.calls.size(), 3);
    QCOMPARE(service.calls[2].replacesId, 0u);
    QTRY_COMPARE(notifier.callsInFlight(), 0);
    QCOMPARE(tray.lines, QStringList());
}

void tst_desktopNotifier::noServiceFallsBackToTheTray()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
    shownByTray tray;
    platform::desktopNotifier notifier(tray.sink());

    notifyLossAndReturn(notifier);
    QTRY_COMPARE(tray.lines, (QStringList{"DC input lost (critical)", "DC input restored"}));
    QCOMPARE(notifier.callsInFlight(), 0);
}

void tst_desktopNotifier::silentServiceCostsOneCallThenTheTray()
{
    fakeNotifications service(false);
    shownByTray tray;
    platform::desktopNotifier notifier(tray.sink(), nullptr, 300);

    notifyLossAndReturn(notifier);
    QTRY_COMPARE(service.calls.size(), 1);
    QCOMPARE(notifier.callsInFlight(), 1);
    QCOMPARE(tray.lines, QStringList());

    // After the one call times out both go to the tray, in order.
    QTRY_COMPARE(tray.lines, (QStringList{"DC input lost (critical)", "DC input restored"}));
    QCOMPARE(notifier.callsInFlight(), 0);
    // A service that did not answer is not asked again at once.
    notifier.notify(QStringLiteral("SW on"), QString(), false);
    QCOMPARE(tray.lines.size(), 3);
    QCOMPARE(service.calls.size(), 1);
}

QR_TEST_GUILESS_MAIN(tst_desktopNotifier)
#include "tst_desktopnotifier.moc"
