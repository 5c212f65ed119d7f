#include "comadapter.h"

#include "comsettings.h"
#include "consoleprint.h"
#include "portholder.h"

#include <QCoreApplication>

#include <chrono>
#include <climits>
#include <thread>

comAdapter g_comAdapter;

namespace {

const QString kNoVersion = QStringLiteral("0000");

void showVersions(const QString& hw, const QString& fw, const QString& drv)
{
    g_consolePrint.showHwVer(hw);
    g_consolePrint.showFwVer(fw);
    g_consolePrint.showDrvVer(drv);
}

// A clock the wall clock's jumps do not move.
qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString invalidStartLine(uint start)
{
    return QStringLiteral("ERR: Register start address ") + QString::number(start)
           + QStringLiteral(" ") + QStringLiteral("is invalid!");
}

} // namespace

void comAdapter::initDescriptor()
{
    std::lock_guard<std::mutex> lock(m_ioMutex);
    m_descriptor.comMode = 0;
    m_descriptor.comPort = 1;
    m_descriptor.slaveAddress = 1;
    m_descriptor.parity = 0;
    m_descriptor.dataBits = 8;
    m_descriptor.baudRate = 115200;
    m_descriptor.reserved2 = 0;
}

void comAdapter::closeFirstOnQuit(QCoreApplication* app)
{
    // Also when not connected: an open in progress is cancelled.
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { slotCloseDevice(); });
}

quint32 comAdapter::lostAfterMs(const comSettings& settings)
{
    const quint64 polls = 3ull * settings.pollDelay;
    const quint64 request = (quint64(settings.numOfRetries) + 1) * settings.responseTimeout;
    return static_cast<quint32>(qMin<quint64>(qMax<quint64>(qMax(polls, request), 2000), UINT32_MAX));
}

void comAdapter::prepareOpen()
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_cancelOpen = false;
    // From here, not from the worker's start: a close in between must know
    // that an open is on its way.
    m_opening.store(true);
}

int comAdapter::slotOpenDevice(comSettings* settings)
{
    prepareOpen();
    return openDevice(settings, true);
}

int comAdapter::openDevice(comSettings* settings, bool reportFailure)
{
    int result;
    deviceInfo info{};
    QString portName;
    {
        std::lock_guard<std::mutex> lock(m_ioMutex);
        if (settings) {
            m_descriptor.comMode = settings->comMode;
            m_descriptor.comPort = static_cast<uint8_t>(settings->comPortNumber & 0xFF);
            m_descriptor.slaveAddress = static_cast<uint8_t>(settings->slaveId & 0xFF);
            m_descriptor.parity = settings->parity;
            m_descriptor.stopBits = settings->stopBits;
            m_descriptor.dataBits = settings->dataLen;
            m_descriptor.baudRate = settings->baudRate;
            m_descriptor.responseTimeout = settings->responseTimeout;
            m_descriptor.retries = settings->numOfRetries;
            m_lostAfterMs.store(lostAfterMs(*settings));
            // The port the operator chose is the port that is opened, whatever
            // number its name happens to carry.
            portName = settings->comPort;
            UPS_SetPortName(&m_descriptor, portName.toUtf8().constData());
        }
        {
            // A close that came before the worker got here cancels at once.
            std::lock_guard<std::mutex> state(m_stateMutex);
            if (m_cancelOpen) {
                m_opening.store(false);
                return QR7215_E_NOT_OPEN;
            }
            m_enteringOpen.store(true);
        }
        result = UPS_DeviceOpen(&m_descriptor, &info);
        m_enteringOpen.store(false);
        m_opening.store(false);
        bool cancelled;
        {
            std::lock_guard<std::mutex> state(m_stateMutex);
            cancelled = m_cancelOpen;
            if (!cancelled) {
                if (result == 0) {
                    m_info = info;
                    m_linkLost.store(false);
                    m_lastAnswerMs.store(steadyMs());
                }
                m_connected.store(result == 0, std::memory_order_release);
            }
        }
        if (cancelled) {
            // The open got through just before the close that cancelled it.
            if (result == 0)
                UPS_DeviceClose(&m_descriptor);
            return QR7215_E_NOT_OPEN;
        }
    }

    if (result != 0) {
        if (reportFailure)
            reportOpenFailure(result, portName);
        return result;
    }

    g_consolePrint.showMsg(QStringLiteral("Open device success > Device Type:")
                           + QString::number(info.deviceType)
                           + QStringLiteral(" Hardware version:") + QString::number(info.hardwareVersion)
                           + QStringLiteral(" Firmware version:") + QString::number(info.firmwareVersion));
    showVersions(QString::number(info.hardwareVersion), QString::number(info.firmwareVersion),
                 QString::number(info.driverVersion));
    return 0;
}

void comAdapter::reportOpenFailure(int result, const QString& portName)
{
    // Failure lines go through the throttle: a repeated click on a port that
    // stays busy is one line and a count.
    g_consolePrint.showError(QStringLiteral("Open device error:") + QString::number(result));
    QString why = QString::fromUtf8(UPS_ErrorText(result));
    if (!portName.isEmpty())
        why = QStringLiteral("Port ") + portName + QStringLiteral(": ") + why;
    // The window and qr7215ctl monitor cannot both own one line: say which
    // one has it.
    const QString holder = result == QR7215_E_PORT_BUSY ? platform::portHolderText(portName) : QString();
    if (!holder.isEmpty())
        why += QStringLiteral("; ") + holder;
    if (result == QR7215_E_PERMISSION)
        why += QStringLiteral(". Your user must be a member of the group that owns the port "
                              "(usually dialout: sudo usermod -aG dialout $USER, then log in again).");
    g_consolePrint.showError(why);
    showVersions(kNoVersion, kNoVersion, kNoVersion);
}

int comAdapter::slotCloseDevice()
{
    return close(true);
}

int comAdapter::closeLostLink()
{
    return close(false);
}

int comAdapter::close(bool report)
{
    // Not under m_ioMutex: a read in flight holds it for up to (retries + 1)
    // time-outs, and the library cuts that read short when asked to close.
    // The flag goes first, so that the cut read knows it was not a failure
    // worth a line.
    bool wasConnected;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_cancelOpen = true;
        wasConnected = m_connected.exchange(false, std::memory_order_acq_rel);
    }
    int result = UPS_DeviceClose(&m_descriptor);
    // An open past its last look at the cancel may not have reached the
    // library's reservation yet; it does within microseconds.
    while (result != 0 && !wasConnected && m_enteringOpen.load()) {
        std::this_thread::yield();
        result = UPS_DeviceClose(&m_descriptor);
    }
    if (result != 0) {
        m_connected.store(wasConnected, std::memory_order_release);
        return result;
    }
    // A cancelled attempt had nothing open to report.
    if (!wasConnected)
        return 0;
    if (report) {
        const uint port = m_descriptor.comPort;
        const uint slave = m_descriptor.slaveAddress;
        g_consolePrint.showMsg(QStringLiteral("Close port %1 slave address %2 is success").arg(port).arg(slave));
    }
    showVersions(kNoVersion, kNoVersion, kNoVersion);
    return 0;
}

void comAdapter::noteResult(int result)
{
    // An answer, even a Modbus exception, shows that the module is there.
    const bool unanswered = result == QR7215_E_TIMEOUT || result == QR7215_E_CRC
                            || result == QR7215_E_BAD_ANSWER;
    if (result == QR7215_E_LINK_LOST || result == QR7215_E_IO) {
        m_linkLost.store(true, std::memory_order_release);
    } else if (unanswered) {
        const qint64 silentFor = steadyMs() - m_lastAnswerMs.load();
        if (silentFor > qint64(m_lostAfterMs.load()))
            m_linkLost.store(true, std::memory_order_release);
    } else if (result != QR7215_E_NOT_OPEN && result != QR7215_E_ARGUMENT) {
        m_lastAnswerMs.store(steadyMs());
    }
}

namespace {
// Set while the watch reads: its transaction takes the line first.
thread_local bool t_watchRead = false;
} // namespace

int comAdapter::watchReadStatus(ushort usRegStartAddr, uchar ubNRegs, ushort* arusBufferOut)
{
    t_watchRead = true;
    const int result = slotReadStatus(usRegStartAddr, ubNRegs, arusBufferOut);
    t_watchRead = false;
    return result;
}

std::unique_lock<std::mutex> comAdapter::lockLine()
{
    if (t_watchRead) {
        m_watchWaiting.fetch_add(1);
        std::unique_lock<std::mutex> line(m_ioMutex);
        {
            std::lock_guard<std::mutex> turn(m_turnMutex);
            m_watchWaiting.fetch_sub(1);
        }
        m_turn.notify_all();
        return line;
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> turn(m_turnMutex);
            m_turn.wait(turn, [this] { return m_watchWaiting.load() == 0; });
        }
        std::unique_lock<std::mutex> line(m_ioMutex);
        if (m_watchWaiting.load() == 0)
            return line;
        // The watch came to the line meanwhile: it goes first.
    }
}

int comAdapter::slotReadStatus(ushort usRegStartAddr, uchar ubNRegs, ushort* arusBufferOut)
{
    int result = -1;
    if (usRegStartAddr < QR7215_FIRST_REGISTER) {
        g_consolePrint.showError(invalidStartLine(usRegStartAddr));
    } else {
        {
            const std::unique_lock<std::mutex> line = lockLine();
            result = UPS_ReadRegisters(&m_descriptor, usRegStartAddr, ubNRegs, arusBufferOut);
        }
        noteResult(result);
        if (result == 0)
            return 0;
        // A Disconnect (or the quit) closed the link under this read, or
        // between the caller's isConnected() and the read: no failure.
        if (result == QR7215_E_NOT_OPEN && !isConnected())
            return result;
    }
    g_consolePrint.showError(QStringLiteral("ERR:") + QString::number(result)
                             + QStringLiteral(":When reading register start from ")
                             + QString::number(usRegStartAddr));
    return result;
}

int comAdapter::slotWriteRegister(uint regAddr, ushort value)
{
    int result = -1;
    if (regAddr < QR7215_FIRST_REGISTER) {
        g_consolePrint.showError(invalidStartLine(regAddr));
    } else {
        {
            const std::unique_lock<std::mutex> line = lockLine();
            result = UPS_WriteRegisters(&m_descriptor, regAddr, 1, &value);
        }
        noteResult(result);
        if (result == 0) {
            g_consolePrint.showMsg(QStringLiteral("SUCCESS: Setting register ") + QString::number(regAddr)
                                   + QStringLiteral(" to value ") + QString::number(value));
            return 0;
        }
    }
    g_consolePrint.showError(QStringLiteral("ERR:") + QString::number(result)
                             + QStringLiteral(":When Setting register ") + QString::number(regAddr)
                             + QStringLiteral(" to value ") + QString::number(value));
    return result;
}
