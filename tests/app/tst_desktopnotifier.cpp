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

    QStringList calls;   // "summary|urgency|replaced id"

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap& hints, int)
    {
        calls << QStringLiteral("%1|%2|%3").arg(summary).arg(hints.value(QStringLiteral("urgency")).toInt()).arg(replacesId);
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

} // namespace

class tst_desktopNotifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lossReturnAndOneWithoutKey_data();
    void lossReturnAndOneWithoutKey();
};

void tst_desktopNotifier::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QFAIL("no session bus: run the test under dbus-run-session");
}

void tst_desktopNotifier::lossReturnAndOneWithoutKey_data()
{
    QTest::addColumn<QString>("service");   // "answers", "silent" (never answers) or "none"
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("tray");

    const QStringList all{"DC input lost (critical)", "DC input restored", "SW on"};
    // The return replaces the loss; without a key nothing is replaced.
    QTest::newRow("a service that answers shows them") << "answers"
                                                       << QStringList{"DC input lost|2|0", "DC input restored|1|41", "SW on|1|0"}
                                                       << QStringList();
    QTest::newRow("no service: the tray") << "none" << QStringList() << all;
    // After the one call times out both go to the tray, in order, and a
    // service that did not answer is not asked again at once.
    QTest::newRow("a silent service costs one call, then the tray") << "silent" << QStringList{"DC input lost|2|0"} << all;
}

void tst_desktopNotifier::lossReturnAndOneWithoutKey()
{
    QFETCH(QString, service);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, tray);

    std::unique_ptr<fakeNotifications> fake;
    if (service != QLatin1String("none"))
        fake = std::make_unique<fakeNotifications>(service == QLatin1String("answers"));
    else
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
    shownByTray shown;
    platform::desktopNotifier notifier(shown.sink(), nullptr, 300);

    // The service runs on this very thread: a notifier that waited for the
    // answer would wait for itself until the call timed out.
    notifier.notify(QStringLiteral("DC input lost"), QStringLiteral("on battery"), true, QStringLiteral("dc"));
    notifier.notify(QStringLiteral("DC input restored"), QStringLiteral("on DC"), false, QStringLiteral("dc"));
    if (service == QLatin1String("silent")) {
        QTRY_COMPARE(fake->calls.size(), 1);
        QCOMPARE(notifier.callsInFlight(), 1);
        QCOMPARE(shown.lines, QStringList());
    }
    QTRY_VERIFY(shown.lines.size() + (fake ? fake->calls.size() : 0) >= 2 && notifier.callsInFlight() == 0);
    notifier.notify(QStringLiteral("SW on"), QString(), false);
    QTRY_COMPARE(notifier.callsInFlight(), 0);
    QTRY_COMPARE(shown.lines, tray);
    QCOMPARE(fake ? fake->calls : QStringList(), calls);
}

QR_TEST_GUILESS_MAIN(tst_desktopNotifier)
#include "tst_desktopnotifier.moc"
