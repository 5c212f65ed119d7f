// Serial port names for the Com Port list.
#pragma once

#include <QString>
#include <QStringList>

// The port names the system lists, in the order it lists them.
QStringList availableComPorts();

// True when a port name stands for something present on this system (see
// platform::serialPortExists): such a port may be missing from the system's
// list and still be the one a connect opens.
bool comPortExists(const QString& name);
