#include "comadapter.h"

#include "comsettings.h"
#include "consoleprint.h"

#include <QCoreApplication>

comAdapter g_comAdapter;

namespace {

const QString kNoVersion = QStringLiteral("0000");

void showVersions(const QString& hw, const QString& fw, const QString& drv)
{
    g_consolePrint.showHwVer(hw);
    g_consolePrint.showFwVer(fw);
    g_consolePrint.showDrvVer(drv);
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
    connect(app, &QCoreApplication::aboutToQuit, this, [this] {
        if (isConnected())
            slotCloseDevice();
    });
}

int comAdapter::slotOpenDevice(comSettings* settings)
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
            // The port the operator chose is the port that is opened, whatever
            // number its name happens to carry.
            portName = settings->comPort;
            UPS_SetPortName(&m_descriptor, portName.toUtf8().constData());
        }
        result = UPS_DeviceOpen(&m_descriptor, &info);
        if (result == 0)
            m_info = info;
        m_connected.store(result == 0, std::memory_order_release);
    }

    if (result != 0) {
        // Failure lines go through the throttle: an Auto Connect or a
        // repeated click on a port that stays busy is one line and a count.
        g_consolePrint.showError(QStringLiteral("Open device error:") + QString::number(result));
        QString why = QString::fromUtf8(UPS_ErrorText(result));
        if (!portName.isEmpty())
            why = QStringLiteral("Port ") + portName + QStringLiteral(": ") + why;
        if (result == QR7215_E_PERMISSION)
            why += QStringLiteral(". Your user must be a member of the group that owns the port "
                                  "(usually dialout: sudo usermod -aG dialout $USER, then log in again).");
        g_consolePrint.showError(why);
        showVersions(kNoVersion, kNoVersion, kNoVersion);
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

int comAdapter::slotCloseDevice()
{
    // Not under m_ioMutex: a read in flight holds it for up to (retries + 1)
    // time-outs, and the library cuts that read short when asked to close.
    // Open and close both come from the GUI thread, so the descriptor's line
    // fields do not change meanwhile. The flag goes first, so that the cut
    // read knows it was not a failure worth a line.
    const bool wasConnected = m_connected.exchange(false, std::memory_order_acq_rel);
    const int result = UPS_DeviceClose(&m_descriptor);
    if (result != 0) {
        m_connected.store(wasConnected, std::memory_order_release);
        return result;
    }
    const uint port = m_descriptor.comPort;
    const uint slave = m_descriptor.slaveAddress;
    g_consolePrint.showMsg(QStringLiteral("Close port %1 slave address %2 is success").arg(port).arg(slave));
    showVersions(kNoVersion, kNoVersion, kNoVersion);
    return 0;
}

int comAdapter::slotReadStatus(ushort usRegStartAddr, uchar ubNRegs, ushort* arusBufferOut)
{
    int result = -1;
    if (usRegStartAddr < QR7215_FIRST_REGISTER) {
        g_consolePrint.showError(invalidStartLine(usRegStartAddr));
    } else {
        {
            std::lock_guard<std::mutex> lock(m_ioMutex);
            result = UPS_ReadRegisters(&m_descriptor, usRegStartAddr, ubNRegs, arusBufferOut);
        }
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
            std::lock_guard<std::mutex> lock(m_ioMutex);
            result = UPS_WriteRegisters(&m_descriptor, regAddr, 1, &value);
        }
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
