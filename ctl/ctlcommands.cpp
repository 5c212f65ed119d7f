#include "ctlcommands.h"

#include "comadapter.h"
#include "comportnames.h"
#include "consoleprint.h"
#include "ctlmonitor.h"
#include "datafolder.h"
#include "ctlexit.h"
#include "dataobject.h"
#include "eventlogfile.h"
#include "jsonstatus.h"
#include "linksupervisor.h"
#include "portholder.h"
#include "registertablefile.h"
#include "registervalue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// Where the program reads it: beside the executable, or in share/qr7215.
QString tableFile(const QString& appDir)
{
    return platform::dataFolder(appDir) + QStringLiteral("/iconfigs/config_registers.xml");
}

} // namespace

ctlCommands::ctlCommands(QTextStream& out, QTextStream& err, const QString& appDir)
    : m_out(out)
    , m_err(err)
    , m_appDir(appDir)
{
}

int ctlCommands::fail(int code, const QString& why)
{
    m_err << "qr7215ctl: " << why << Qt::endl;
    return code;
}

int ctlCommands::run(const ctlOptions& o)
{
    switch (o.what()) {
    case ctlOptions::command::Status: return status(o);
    case ctlOptions::command::Read: return read(o);
    case ctlOptions::command::Write: return write(o);
    case ctlOptions::command::ListPorts: return listPorts();
    case ctlOptions::command::Watch: return watch(o);
    case ctlOptions::command::Monitor: return monitor(o);
    case ctlOptions::command::None: break;
    }
    return fail(ctlExit::Usage, QStringLiteral("no command given"));
}

int ctlCommands::open(const ctlOptions& o)
{
    comSettings settings;
    settings.assignFrom(o.settings());
    g_comAdapter.prepareOpen();
    // On a worker, with the event loop running: a silent module holds an
    // open up for every retry's time-out, and a stop request (SIGTERM to a
    // service that never got its module) must end it at once.
    std::atomic<bool> done{false};
    int result = QR7215_E_NOT_OPEN;
    QEventLoop loop;
    std::thread worker([&] {
        result = g_comAdapter.openDevice(&settings, false);
        done.store(true);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    const bool stopped = !done.load();
    if (stopped)
        g_comAdapter.slotCloseDevice();   // cancels the open in flight
    worker.join();
    if (stopped)
        return kStopped;
    // The failure is said here, once, with the exit code that goes with it.
    if (result == 0)
        return ctlExit::Ok;
    QString why = QStringLiteral("cannot open %1: %2 (%3)")
                      .arg(settings.comPort, QString::fromUtf8(UPS_ErrorText(result)))
                      .arg(result);
    const QString holder = result == QR7215_E_PORT_BUSY ? platform::portHolderText(settings.comPort) : QString();
    if (!holder.isEmpty()) {
        why += QStringLiteral("; ") + holder;
    } else if (result == QR7215_E_PERMISSION) {
        why += QStringLiteral("; the user needs to be in the group that owns the port (usually dialout)");
    }
    return fail(ctlExit::forResult(result), why);
}

int ctlCommands::readFailed(int result, quint16 start, int count)
{
    return fail(ctlExit::forResult(result), QStringLiteral("reading %1 register(s) from %2 failed: %3 (%4)")
                                                .arg(count)
                                                .arg(start)
                                                .arg(QString::fromUtf8(UPS_ErrorText(result)))
                                                .arg(result));
}

int ctlCommands::status(const ctlOptions& o)
{
    if (const int code = open(o))
        return code == kStopped ? ctlExit::Ok : code;
    statusDecoder::block block{};
    const int result = g_comAdapter.slotReadStatus(QR7215_STATUS_BLOCK_START, QR7215_STATUS_BLOCK_COUNT, block.data());
    g_comAdapter.slotCloseDevice();
    if (result != 0)
        return readFailed(result, QR7215_STATUS_BLOCK_START, QR7215_STATUS_BLOCK_COUNT);
    if (o.json())
        m_out << QJsonDocument(jsonStatus::object(block)).toJson(QJsonDocument::Indented);
    else
        m_out << jsonStatus::text(block);
    m_out.flush();
    return ctlExit::Ok;
}

int ctlCommands::read(const ctlOptions& o)
{
    if (const int code = open(o))
        return code == kStopped ? ctlExit::Ok : code;
    QVector<quint16> values(o.count());
    const int result = g_comAdapter.slotReadStatus(o.start(), static_cast<uchar>(o.count()), values.data());
    g_comAdapter.slotCloseDevice();
    if (result != 0)
        return readFailed(result, o.start(), o.count());
    if (o.json()) {
        m_out << QJsonDocument(jsonStatus::registers(o.start(), values)).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (int i = 0; i < values.size(); ++i)
            m_out << (o.start() + i) << ' ' << values[i] << '\n';
    }
    m_out.flush();
    return ctlExit::Ok;
}

int ctlCommands::write(const ctlOptions& o)
{
    // The register table says which registers take a write and which values,
    // as it does for the write dialog; without it nothing is written.
    QFile file(tableFile(m_appDir));
    QList<DataObject*> rows;
    if (registerTableFile::read(file, &rows) != registerTableFile::Read)
        return fail(ctlExit::Usage, QStringLiteral("cannot read the register table %1").arg(file.fileName()));
    std::unique_ptr<DataObject> row;
    for (DataObject* r : rows) {
        if (!row && r->addr == o.registerNumber())
            row.reset(r);
        else
            delete r;
    }
    if (!row)
        return fail(ctlExit::Usage, QStringLiteral("register %1 is not in the register table").arg(o.registerNumber()));
    if (!row->isWritable())
        return fail(ctlExit::Usage, QStringLiteral("register %1 (%2) is read-only").arg(row->addr).arg(row->name));
    quint16 value = 0;
    switch (registerValue::check(o.valueText(), row->minimum, row->maximum, &value)) {
    case registerValue::Accepted:
        break;
    case registerValue::OutOfRange:
        return fail(ctlExit::Usage, QStringLiteral("%1 is outside the range %2 to %3 of register %4")
                                        .arg(o.valueText()).arg(row->minimum).arg(row->maximum).arg(row->addr));
    default:
        return fail(ctlExit::Usage, QStringLiteral("\"%1\" is not a whole number from %2 to %3")
                                        .arg(o.valueText()).arg(row->minimum).arg(row->maximum));
    }
    if (const int code = open(o))
        return code == kStopped ? ctlExit::Ok : code;
    const int result = g_comAdapter.slotWriteRegister(o.registerNumber(), value);
    g_comAdapter.slotCloseDevice();
    if (result != 0)
        return fail(ctlExit::forResult(result), QStringLiteral("writing %1 to register %2 failed: %3 (%4)")
                                                    .arg(value).arg(o.registerNumber())
                                                    .arg(QString::fromUtf8(UPS_ErrorText(result))).arg(result));
    m_out << "Register " << o.registerNumber() << " set to " << value << Qt::endl;
    return ctlExit::Ok;
}

int ctlCommands::listPorts()
{
    for (const QString& name : availableComPorts())
        m_out << name << '\n';
    m_out.flush();
    return ctlExit::Ok;
}

int ctlCommands::watch(const ctlOptions& o)
{
    if (const int code = open(o))
        return code == kStopped ? ctlExit::Ok : code;
    // A lost link is reopened as in the program, and said on standard error.
    connect(&g_consolePrint, &consolePrint::signalShowMsg, this,
            [this](const QString& line) { m_err << ctlMonitor::stamped(line) << Qt::endl; });
    comSettings settings;
    settings.assignFrom(o.settings());
    linkSupervisor link;
    link.adoptOpenLink(settings);
    statusDecoder::block last{};
    bool haveLast = false;
    QTimer timer;
    timer.setInterval(o.intervalMs());
    const auto tick = [&] {
        statusDecoder::block block{};
        // A failed read has said so on the bus.
        if (!g_comAdapter.isConnected()
            || g_comAdapter.watchReadStatus(QR7215_STATUS_BLOCK_START, QR7215_STATUS_BLOCK_COUNT, block.data()) != 0)
            return;
        if (haveLast && block == last)
            return;
        last = block;
        haveLast = true;
        if (o.json())
            m_out << QJsonDocument(jsonStatus::object(block)).toJson(QJsonDocument::Compact) << '\n';
        else
            m_out << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz "))
                  << jsonStatus::line(block) << '\n';
        m_out.flush();
    };
    connect(&timer, &QTimer::timeout, this, tick);
    timer.start();
    // The state as it is now, not one period later.
    QTimer::singleShot(0, this, tick);
    QCoreApplication::exec();
    timer.stop();
    link.close();
    return ctlExit::Ok;
}

int ctlCommands::monitor(const ctlOptions& o)
{
    // The program's log lines, stamped as its log page stamps them, from the
    // open on, on standard error and in the program's event log file (which
    // the watch syncs to the disk before a script starts).
    connect(&g_consolePrint, &consolePrint::signalShowMsg, this,
            [this](const QString& line) { m_err << ctlMonitor::stamped(line) << Qt::endl; });
    eventLogFile eventLog;
    connect(&g_consolePrint, &consolePrint::signalShowMsg, &eventLog, &eventLogFile::slotOnShowMsg);
    // The first open is the caller's: a port that is missing, held or
    // forbidden ends the monitor with the exit code that says so, and a
    // service manager starts it again later.
    ctlMonitor monitor;
    if (const int code = open(o))
        return code == kStopped ? ctlExit::Ok : code;
    return monitor.run(o);
}
