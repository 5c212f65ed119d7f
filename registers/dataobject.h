// One row of the register table: where a register lives, what it may be used
// for, what it is called and the value the device last reported for it.
#pragma once

#include <QObject>
#include <QString>

class DataObject : public QObject
{
    Q_OBJECT
public:
    explicit DataObject(QObject* parent = nullptr);

    // Access codes as the register table file spells them.
    enum : quint8 { AccessNone = 0, AccessRead = 1, AccessWrite = 2, AccessReadWrite = 3 };

    bool isWritable() const { return rw == AccessWrite || rw == AccessReadWrite; }

    quint32 addr = 0;
    quint16 value = 32;
    quint8 rw = AccessRead;
    QString name = QStringLiteral("NULL");
    QString description = QStringLiteral("NULL");
    // False for rows the block read does not cover: such a row has no value
    // to show, and nothing may pass its placeholder off as the device's.
    bool hasValue = true;
};
