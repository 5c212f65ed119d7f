// The connection record: everything needed to reach the module, plus the three
// start-up options. The connection page owns the one instance.
#pragma once

#include <QObject>
#include <QString>

class comSettings : public QObject
{
    Q_OBJECT
public:
    explicit comSettings(QObject* parent = nullptr) : QObject(parent) {}

    // Plain value copy of the fields; QObject itself is not copyable.
    void assignFrom(const comSettings& other)
    {
        comPort = other.comPort;
        comPortNumber = other.comPortNumber;
        slaveId = other.slaveId;
        baudRate = other.baudRate;
        comMode = other.comMode;
        dataLen = other.dataLen;
        stopBits = other.stopBits;
        parity = other.parity;
        responseTimeout = other.responseTimeout;
        numOfRetries = other.numOfRetries;
        pollDelay = other.pollDelay;
        autoBoot = other.autoBoot;
        autoConnect = other.autoConnect;
        autoHide = other.autoHide;
    }

    QString comPort = QStringLiteral("COM1");
    quint16 comPortNumber = 1;
    quint16 slaveId = 1;
    quint32 baudRate = 115200;
    quint8 comMode = 0;
    quint8 dataLen = 8;
    quint8 stopBits = 1;
    quint8 parity = 0;
    quint32 responseTimeout = 1000;
    quint32 numOfRetries = 3;
    quint32 pollDelay = 10;
    bool autoBoot = false;
    bool autoConnect = false;
    bool autoHide = false;
};
