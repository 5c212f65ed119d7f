// What the figures share: event loop helpers and the device adapter's link to
// the simulator.
#include "benchsections.h"

#include "benchsimulator.h"
#include "comadapter.h"
#include "comsettings.h"
#include "sdk/qr7215registers.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <modbus.h>

#include <cstdint>
#include <time.h>

namespace benchSupport {

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool openAdapter(const benchSimulator& sim, unsigned baud, quint32 timeoutMs, quint32 retries, quint32 pollDelay)
{
    comSettings settings;
    settings.comPort = sim.linkPath();
    settings.baudRate = baud ? baud : 115200;
    settings.responseTimeout = timeoutMs;
    settings.numOfRetries = retries;
    settings.pollDelay = pollDelay;
    return g_comAdapter.slotOpenDevice(&settings) == 0;
}

void closeAdapter()
{
    if (g_comAdapter.isConnected())
        g_comAdapter.slotCloseDevice();
}

qint64 bareReadsNs(const QString& link, int reads, int warmUpReads)
{
    constexpr int kStatusAddress = QR7215_STATUS_BLOCK_START - QR7215_FIRST_REGISTER;
    constexpr int kStatusCount = QR7215_STATUS_BLOCK_COUNT;
    const QByteArray name = link.toUtf8();
    modbus_t* ctx = modbus_new_rtu(name.constData(), 115200, 'N', 8, 1);
    if (!ctx)
        return -1;
    qint64 elapsed = -1;
    if (modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0) {
        uint16_t values[kStatusCount];
        bool ok = true;
        for (int i = 0; i < warmUpReads && ok; ++i)
            ok = modbus_read_registers(ctx, kStatusAddress, kStatusCount, values) == kStatusCount;
        const qint64 t0 = monotonicNs();
        for (int i = 0; i < reads && ok; ++i)
            ok = modbus_read_registers(ctx, kStatusAddress, kStatusCount, values) == kStatusCount;
        if (ok)
            elapsed = monotonicNs() - t0;
        modbus_close(ctx);
    }
    modbus_free(ctx);
    return elapsed;
}

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

} // namespace benchSupport
