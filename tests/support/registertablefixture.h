// The register table file beside the test executable, as a test writes it,
// and what a row of the table shows as its value.
#pragma once

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace registerFixture {

inline QString tablePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs/config_registers.xml");
}

// Puts xml in place as the table; a null xml leaves no table at all.
inline bool writeTable(const QByteArray& xml)
{
    QFile::remove(tablePath());
    if (xml.isNull())
        return true;
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs"));
    QFile file(tablePath());
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}

// One <Item> per entry "addr|name|rw|description"; an empty part is left out.
inline QByteArray tableOf(const QStringList& items)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<Registers><Config><Version>1</Version></Config><Items>\n";
    const char* const tags[] = {"Addr", "Name", "RW", "Description"};
    for (const QString& item : items) {
        const QStringList parts = item.split(QLatin1Char('|'));
        xml += "<Item>";
        for (int i = 0; i < 4 && i < parts.size(); ++i) {
            if (!parts.at(i).isEmpty())
                xml += QByteArray("<") + tags[i] + ">" + parts.at(i).toUtf8() + "</" + tags[i] + ">";
        }
        xml += "</Item>\n";
    }
    return xml + "</Items></Registers>\n";
}

inline QString valueText(const QAbstractItemModel& model, int row)
{
    return model.data(model.index(row, 2), Qt::DisplayRole).toString();
}

} // namespace registerFixture
