#include "registertablefile.h"

#include "dataobject.h"
#include "registervalue.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>

namespace registerTableFile {
namespace {

// A bound the file gives for the register's value: a text that is no value
// of a register gives none, and the bound stays open.
bool readBound(const QDomElement& field, quint16 open, quint16* bound)
{
    const bool given = registerValue::parse(field.text().trimmed(), bound);
    if (!given)
        *bound = open;
    return given;
}

DataObject* rowFromItem(const QDomElement& item)
{
    auto* row = new DataObject;
    bool hasMin = false;
    bool hasMax = false;
    quint16 minimum = 0;
    quint16 maximum = static_cast<quint16>(registerValue::kMaximum);
    for (QDomElement field = item.firstChildElement(); !field.isNull();
         field = field.nextSiblingElement()) {
        const QString tag = field.tagName();
        if (tag == QLatin1String("Addr")) {
            bool ok = false;
            const uint addr = field.text().toUInt(&ok, 10);
            row->addr = ok ? addr : 0;
        } else if (tag == QLatin1String("Name")) {
            row->name = field.text();
        } else if (tag == QLatin1String("RW")) {
            row->rw = accessCode(field.text());
        } else if (tag == QLatin1String("Description")) {
            row->description = field.text();
        } else if (tag == QLatin1String("Min")) {
            hasMin = readBound(field, 0, &minimum);
        } else if (tag == QLatin1String("Max")) {
            hasMax = readBound(field, static_cast<quint16>(registerValue::kMaximum), &maximum);
        }
    }
    // A range that holds no value at all is a slip in the file; it must not
    // shut the register off, so it counts as no range.
    if ((hasMin || hasMax) && minimum <= maximum) {
        row->hasRange = true;
        row->minimum = minimum;
        row->maximum = maximum;
    }
    return row;
}

} // namespace

int read(QFile& file, QList<DataObject*>* rows)
{
    if (!file.open(QIODevice::ReadOnly))
        return CannotOpen;

    QDomDocument document;
    QString errorMessage;
    int errorLine = 0;
    int errorColumn = 0;
    const bool parsed = document.setContent(&file, true, &errorMessage, &errorLine, &errorColumn);
    file.close();
    if (!parsed)
        return NotWellFormed;

    // Every "Items" section counts, in document order; "Config" and anything
    // else beside them carries nothing the table shows.
    const QDomElement root = document.documentElement();
    for (QDomElement items = root.firstChildElement(); !items.isNull();
         items = items.nextSiblingElement()) {
        if (items.tagName() != QLatin1String("Items"))
            continue;
        for (QDomElement item = items.firstChildElement(); !item.isNull();
             item = item.nextSiblingElement()) {
            if (item.tagName() == QLatin1String("Item"))
                rows->append(rowFromItem(item));
        }
    }
    return Read;
}

quint8 accessCode(const QString& text)
{
    const QString upper = text.toUpper();
    if (upper == QLatin1String("R"))
        return DataObject::AccessRead;
    if (upper == QLatin1String("W"))
        return DataObject::AccessWrite;
    if (upper == QLatin1String("RW") || upper == QLatin1String("WR"))
        return DataObject::AccessReadWrite;
    return DataObject::AccessNone;
}

QString accessText(quint8 code)
{
    switch (code) {
    case DataObject::AccessRead:
        return QStringLiteral("R");
    case DataObject::AccessWrite:
        return QStringLiteral("W");
    case DataObject::AccessReadWrite:
        return QStringLiteral("RW");
    default:
        return QString();
    }
}

} // namespace registerTableFile
