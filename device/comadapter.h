// The single gateway to the device library: opens and closes the link, reads
// register blocks and writes single registers, keeps the connected flag every
// page consults, and reports each outcome on the message bus.
#pragma once

#include "sdk/qr7215sdk.h"

#include <QObject>
#include <QString>

class QCoreApplication;

#include <atomic>
#include <mutex>

class comSettings;

class comAdapter : public QObject
{
    Q_OBJECT
public:
    comAdapter() = default;

    bool isConnected() const { return m_connected.load(std::memory_order_acquire); }
    void initDescriptor();
    // Closes the device when app is about to quit. Called before anything
    // else connects to aboutToQuit, so the close runs first and cuts a read
    // in flight short: joining the poll thread and the register worker then
    // does not wait out a hung module's time-outs.
    void closeFirstOnQuit(QCoreApplication* app);

signals:
    void signalShowMessage(QString msg);

public slots:
    int slotOpenDevice(comSettings* settings);
    int slotCloseDevice();
    int slotReadStatus(ushort usRegStartAddr, uchar ubNRegs, ushort* arusBufferOut);
    int slotWriteRegister(uint regAddr, ushort value);

private:
    // The poll thread and the GUI thread both call in; one read, write or
    // open at a time. A close does not take it (it cuts a read short).
    std::mutex m_ioMutex;
    std::atomic<bool> m_connected{false};
    deviceDescriptor m_descriptor{};
    deviceInfo m_info{};
};

extern comAdapter g_comAdapter;
