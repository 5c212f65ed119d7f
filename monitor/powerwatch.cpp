#include "powerwatch.h"

#include "batthread.h"
#include "consoleprint.h"
#include "eventlogfile.h"
#include "monitorthread.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
// How often a pending delay looks at the clock.
const int kDelayTickMs = 200;
// The longest a script start waits for the event log to reach the disk.
const int kLogSyncMs = 250;
} // namespace

powerWatch::powerWatch(QObject* parent)
    : QObject(parent)
{
    m_monitorThread = new monitorThread(nullptr);
    connect(m_monitorThread, SIGNAL(signalFinished()), this, SLOT(slotOnReadResultReady()));

    m_batThread = new batThread(nullptr);
    connect(m_batThread, SIGNAL(signalScriptEnded(const QString&)), this, SLOT(slotOnScriptEnded(const QString&)));

    m_clock.start();
    m_delayTimer = new QTimer(this);
    m_delayTimer->setInterval(kDelayTickMs);
    connect(m_delayTimer, SIGNAL(timeout()), this, SLOT(slotOnDelayTick()));

    reloadSettings();

    // Both threads call the global adapter and message bus: they must be gone
    // before those are destroyed, whoever owns the watch and whenever it dies.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stop(); });
}

powerWatch::~powerWatch()
{
    stop();
    delete m_monitorThread;
    delete m_batThread;
}

void powerWatch::start(const comSettings& settings)
{
    m_port = settings.comPort;
    m_slave = settings.slaveId;
    m_monitorThread->startPoll(settings.pollDelay);
}

void powerWatch::stop()
{
    m_delayTimer->stop();
    m_monitorThread->stopPoll();
    m_batThread->shutDown();
}

void powerWatch::setPollCycle(quint32 ms)
{
    if (m_monitorThread->isRunning())
        m_monitorThread->startPoll(ms);
}

bool powerWatch::isPolling() const
{
    return m_monitorThread->isRunning();
}

void powerWatch::setPolicy(quint32 policy)
{
    powerEventPolicy::settings s = m_powerEvents.currentSettings();
    s.policy = policy;
    m_powerEvents.setSettings(s);
    if (!m_powerEvents.pending())
        m_delayTimer->stop();
}

void powerWatch::reloadSettings()
{
    powerEventPolicy::settings s;
    s.policy = settingsStore::batExecutePolicy();
    s.delaySec = settingsStore::batDelay();
    s.lowLevel = settingsStore::batLowLevel();
    s.lowRuntime = settingsStore::batLowRuntime();
    s.onRestore = settingsStore::batOnRestore();
    m_powerEvents.setSettings(s);
    if (!m_powerEvents.pending())
        m_delayTimer->stop();
}

int powerWatch::pendingScriptSeconds() const
{
    return m_powerEvents.secondsLeft(now());
}

void powerWatch::cancelPendingScript()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.cancelPending())
        act(d);
}

void powerWatch::testScript()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.testRun(m_batThread->isRunning()))
        act(d);
}

void powerWatch::slotOnDelayTick()
{
    for (const powerEventPolicy::decision& d : m_powerEvents.onTick(now(), m_batThread->isRunning()))
        act(d);
}

void powerWatch::slotOnScriptEnded(const QString& outcome)
{
    emit signalNotify(tr("Post-process script"), outcome, false, QStringLiteral("script"));
}

void powerWatch::act(const powerEventPolicy::decision& d)
{
    switch (d.what) {
    case powerEventPolicy::decision::Start: {
        if (d.event == scriptEvent::Test)
            g_consolePrint.showMsg(QStringLiteral("Testing the post-process script."));
        scriptContext context;
        context.event = d.event;
        context.registers = d.registers;
        context.port = m_port;
        context.slave = m_slave;
        // What was logged so far goes to the disk itself before the script
        // runs; a disk that does not answer holds the script back only so long.
        eventLogFile::syncActive(kLogSyncMs);
        // The runner may still be busy with a run that the policy saw ending.
        if (!m_batThread->startScript(context))
            g_consolePrint.showMsg(powerEventPolicy::droppedText(d.event));
        break;
    }
    case powerEventPolicy::decision::Log:
        g_consolePrint.showMsg(d.text);
        break;
    case powerEventPolicy::decision::DelayStarted:
        m_delayTimer->start();
        emit signalNotify(tr("Post-process script pending"),
                          tr("It runs in %1 s unless DC returns.").arg(m_powerEvents.secondsLeft(now())), false,
                          QStringLiteral("script"));
        break;
    case powerEventPolicy::decision::DelayEnded:
        m_delayTimer->stop();
        // Takes the place of the pending one, which would otherwise stay.
        if (!d.text.isEmpty())
            emit signalNotify(tr("Post-process script cancelled"), d.text, false, QStringLiteral("script"));
        break;
    }
}

void powerWatch::notifyEdges(const statusDecoder::block& registers, const statusDecoder::update& u)
{
    const QString level = QString::number(registers[statusDecoder::kBatteryLevel]);
    if (u.dcLost)
        emit signalNotify(tr("DC input lost"), tr("The module runs on its battery (%1 %).").arg(level), true,
                          QStringLiteral("dc"));
    if (u.dcReturned)
        emit signalNotify(tr("DC input restored"), tr("The module runs on DC again (battery %1 %).").arg(level),
                          false, QStringLiteral("dc"));
    if (u.swOn)
        emit signalNotify(tr("SW on"), tr("The module's SW signal switched on."), false, QStringLiteral("sw"));
}

void powerWatch::slotOnReadResultReady()
{
    handleBlock(m_monitorThread->registers());
}

void powerWatch::handleBlock(const statusDecoder::block& registers)
{
    const statusDecoder::update u = statusDecoder::decode(registers, m_edges);
    m_edges = u.state;
    emit signalBlock(registers, u);
    const powerEventPolicy::decisions decided =
        m_powerEvents.onBlock(registers, u, now(), m_batThread->isRunning());
    // The edge lines come before a script start, which puts them on the disk
    // first: the script may well shut the machine down, and the record of
    // the loss must survive it.
    for (const statusDecoder::action& a : u.actions) {
        if (a.what == statusDecoder::action::Log)
            g_consolePrint.showMsg(a.text);
    }
    for (const powerEventPolicy::decision& d : decided) {
        if (d.what == powerEventPolicy::decision::Start)
            act(d);
    }
    for (const statusDecoder::action& a : u.actions) {
        if (a.what == statusDecoder::action::EmitDcOk)
            emit signalDC_OK(a.state);
    }
    for (const powerEventPolicy::decision& d : decided) {
        if (d.what != powerEventPolicy::decision::Start)
            act(d);
    }
    notifyEdges(registers, u);
}
