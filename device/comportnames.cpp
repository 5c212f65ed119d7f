// Port names as the system lists them, and the test for a configured port
// the list leaves out.
#include "comportnames.h"

#include <QFileInfo>
#include <QSerialPortInfo>

QStringList availableComPorts()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports)
        names << port.portName();
    return names;
}

bool comPortExists(const QString& name)
{
    if (name.isEmpty())
        return false;
    // The device library opens a bare name under /dev and a path as it stands.
    if (name.contains(QLatin1Char('/')))
        return QFileInfo::exists(name);
    return QFileInfo::exists(QStringLiteral("/dev/") + name);
}
