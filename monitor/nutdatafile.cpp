#include "nutdatafile.h"

#include "comadapter.h"
#include "consoleprint.h"

#include <QDateTime>
#include <QSaveFile>
#include <QStringList>

namespace {

using namespace statusDecoder;

QString volts(quint16 mV)
{
    return QString::number(mV / 1000.0, 'f', 3);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray identity(const QString& firmware)
{
    QByteArray out = "device.mfr: Tarvolt\ndevice.model: QR-7215\nups.mfr: Tarvolt\nups.model: QR-7215\n";
    if (!firmware.isEmpty())
        out += "ups.firmware: " + firmware.toUtf8() + '\n';
    return out;
}

// The variables a block sets, in the order the file lists them.
const char* const kLive[] = {"ups.status",     "battery.charge", "battery.voltage", "battery.runtime",
                             "input.voltage",  "output.voltage", "ups.temperature"};

} // namespace

nutDataFile::nutDataFile(const QString& path, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_linkUp([] { return g_comAdapter.isConnected() && !g_comAdapter.linkLost(); })
{
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &nutDataFile::slotOnDue);
    m_linkTimer.setInterval(kLinkCheckMs);
    connect(&m_linkTimer, &QTimer::timeout, this, &nutDataFile::slotOnCheckLink);
    m_linkTimer.start();
}

QString nutDataFile::status(const block& r)
{
    QStringList words;
    words << (r[kDcOk] ? QStringLiteral("OL") : QStringLiteral("OB"));
    if (r[kPowerSource] == QR7215_POWER_BATTERY)
        words << QStringLiteral("DISCHRG");
    else if (r[kPowerSource] == QR7215_POWER_DC && r[kBatteryLevel] < 100)
        words << QStringLiteral("CHRG");
    // Bat.Ready off: the battery can no longer carry the load.
    if (!r[kBatReady])
        words << QStringLiteral("LB");
    return words.join(QLatin1Char(' '));
}

QByteArray nutDataFile::content(const block& r, const QString& firmware)
{
    const QString values[] = {
        status(r),
        QString::number(qMin<int>(r[kBatteryLevel], 100)),
        volts(r[kBatteryVoltage]),
        QString::number(r[kRuntime] * 60),
        volts(r[kVoltageInput]),
        volts(r[kVoltageOutput]),
        QString::number(static_cast<qint16>(r[kTemperature]) / 10.0, 'f', 1),
    };
    QByteArray out = identity(firmware);
    for (int i = 0; i < int(sizeof kLive / sizeof kLive[0]); ++i)
        out += QByteArray(kLive[i]) + ": " + values[i].toUtf8() + '\n';
    return out;
}

QByteArray nutDataFile::staleContent(const QString& firmware)
{
    // An empty value removes the variable from the driver (ups.status stays,
    // empty). It has to be quoted: a bare "name:" takes the value of a line
    // before it.
    QByteArray out = identity(firmware);
    for (const char* name : kLive)
        out += QByteArray(name) + ": \"\"\n";
    return out;
}

void nutDataFile::slotOnBlock(const block& registers)
{
    m_haveBlock = true;
    m_stale = false;
    offer(content(registers, m_firmware));
}

void nutDataFile::slotOnFirmware(const QString& version)
{
    if (version != QLatin1String("0000"))
        m_firmware = version;
}

void nutDataFile::slotOnCheckLink()
{
    if (!m_haveBlock || m_stale || m_linkUp())
        return;
    m_stale = true;
    offer(staleContent(m_firmware));
}

void nutDataFile::offer(const QByteArray& text)
{
    m_wanted = text;
    if (m_everWritten && m_wanted == m_written) {
        m_due.stop();
        return;
    }
    const qint64 since = nowMs() - m_lastWriteMs;
    if (!m_everWritten || since >= kMinIntervalMs || since < 0) {
        writeNow();
    } else if (!m_due.isActive()) {
        m_due.start(static_cast<int>(kMinIntervalMs - since));
    }
}

void nutDataFile::slotOnDue()
{
    if (m_wanted != m_written)
        writeNow();
}

void nutDataFile::writeNow()
{
    m_due.stop();
    m_lastWriteMs = nowMs();
    // Readers see the old file or the new one, never half of one.
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(m_wanted) == m_wanted.size() && file.commit()) {
        if (m_failing)
            g_consolePrint.showMsg(QStringLiteral("NUT data file written again: ") + m_path);
        m_failing = false;
        m_written = m_wanted;
        m_everWritten = true;
        return;
    }
    // Once per run of failures: the next try comes every second.
    if (!m_failing)
        g_consolePrint.showMsg(QStringLiteral("Cannot write the NUT data file %1: %2").arg(m_path, file.errorString()));
    m_failing = true;
    ++m_failedWrites;
    // Tried again with the next change, or at the next second if none comes.
    m_due.start(kMinIntervalMs);
}
