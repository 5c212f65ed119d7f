// The single gateway to the device library: opens and closes the link, reads
// register blocks and writes single registers, keeps the connected flag every
// page consults, and reports each outcome on the message bus.
#pragma once

#include "sdk/qr7215sdk.h"

#include <QObject>
#include <QString>

class QCoreApplication;

#include <atomic>
#include <condition_variable>
#include <mutex>

class comSettings;

class comAdapter : public QObject
{
    Q_OBJECT
public:
    comAdapter() = default;

    bool isConnected() const { return m_connected.load(std::memory_order_acquire); }
    void initDescriptor();

    // Opening off the GUI thread. prepareOpen() is called on the GUI thread
    // before the attempt is handed to a worker, which then calls
    // openDevice(): a close that comes in between, or during the open, cuts
    // the attempt short (it returns QR7215_E_NOT_OPEN and reports nothing).
    // With reportFailure false a failed open logs nothing, so that repeated
    // attempts can report a failure once, through reportOpenFailure().
    void prepareOpen();
    // From prepareOpen() until the open it announced has returned.
    bool isOpening() const { return m_opening.load(); }
    int openDevice(comSettings* settings, bool reportFailure);
    void reportOpenFailure(int result, const QString& portName);
    // Closes a link the watch has given up on: no close line, the versions
    // read "0000" again.
    int closeLostLink();

    // True once the open link is no longer worth trusting: the port hung up
    // or went away, or no transaction has been answered for longer than
    // lostAfterMs() of the settings it was opened with. Cleared by the next
    // successful open.
    bool linkLost() const { return m_linkLost.load(std::memory_order_acquire); }
    // How long transactions may keep failing before the link counts as lost:
    // three poll cycles, the library's own time for one request with all its
    // retries, and at least two seconds.
    static quint32 lostAfterMs(const comSettings& settings);

    // The watch's read of the status block: slotReadStatus, served before
    // any other transaction that waits for the line, so that the register
    // table's refresh may become slower on a slow line, never the watch.
    int watchReadStatus(ushort usRegStartAddr, uchar ubNRegs, ushort* arusBufferOut);

    // Closes the device, or cancels an open in progress, when app is about
    // to quit. Called before anything
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
    int close(bool report);
    // The line for one read or write; the watch's turn comes first.
    std::unique_lock<std::mutex> lockLine();
    // Counts what one transaction's result says about the link.
    void noteResult(int result);

    // The poll thread and the GUI thread both call in; one read, write or
    // open at a time. A close does not take it (it cuts a read short).
    std::mutex m_ioMutex;
    // Orders an open's outcome against a close: an open whose attempt was
    // closed in the meantime never makes the adapter connected.
    std::mutex m_stateMutex;
    bool m_cancelOpen = false;
    std::atomic<bool> m_opening{false};
    // Between the last check for a cancel and the library's own
    // reservation of the open: a close must try again until it is in.
    std::atomic<bool> m_enteringOpen{false};
    // How many watch reads wait for the line; others wait for none to be left.
    std::atomic<int> m_watchWaiting{0};
    std::mutex m_turnMutex;
    std::condition_variable m_turn;
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_linkLost{false};
    std::atomic<qint64> m_lastAnswerMs{0};
    std::atomic<quint32> m_lostAfterMs{2000};
    deviceDescriptor m_descriptor{};
    deviceInfo m_info{};
};

extern comAdapter g_comAdapter;
