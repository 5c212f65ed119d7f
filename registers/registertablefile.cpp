#include "registertablefile.h"

#include "dataobject.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>

namespace registerTableFile {
namespace {

DataObject* rowFromItem(const QDomElement& item)
{
    auto* row = new DataObject;
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
        }
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
