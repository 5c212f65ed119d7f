// Port names as the system lists them, and the test for a configured port
// the list leaves out.
#include "comportnames.h"

#include "serialportpath.h"

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
    return platform::serialPortExists(name);
}
