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
    // True when value lies within the range the table file gives (any word
    // does when it gives none).
    bool allows(quint16 word) const { return word >= minimum && word <= maximum; }

    quint32 addr = 0;
    quint16 value = 32;
    quint8 rw = AccessRead;
    QString name = QStringLiteral("NULL");
    QString description = QStringLiteral("NULL");
    // True only once a block read has brought this row's register, and false
    // again when the link goes: nothing may pass the placeholder above, or a
    // value from a link that has closed, off as the device's.
    bool hasValue = false;
    // The values the register takes, as the table file gives them.
    bool hasRange = false;
    quint16 minimum = 0;
    quint16 maximum = 0xFFFF;
};
