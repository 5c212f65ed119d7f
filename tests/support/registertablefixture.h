// Helpers shared by the register tests: the register table file beside the
// test executable, and the display text of a whole row.
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

inline QString exampleTablePath()
{
    return QStringLiteral(QR7215_SOURCE_DIR) + QStringLiteral("/resources/iconfigs/config_registers.xml");
}

inline bool writeTable(const QByteArray& xml)
{
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs"));
    QFile file(tablePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(xml) == xml.size();
}

inline void removeTable()
{
    QFile::remove(tablePath());
}

inline bool installExampleTable()
{
    removeTable();
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/iconfigs"));
    return QFile::copy(exampleTablePath(), tablePath());
}

// One <Item> per entry: "addr|name|rw|description" (an empty part is left out).
inline QByteArray tableOf(const QStringList& items)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<Registers><Config><Version>1</Version></Config><Items>\n";
    for (const QString& item : items) {
        const QStringList p = item.split(QLatin1Char('|'));
        xml += "<Item>";
        const char* tags[] = {"Addr", "Name", "RW", "Description"};
        for (int i = 0; i < 4 && i < p.size(); ++i) {
            if (!p.at(i).isEmpty())
                xml += QByteArray("<") + tags[i] + ">" + p.at(i).toUtf8() + "</" + tags[i] + ">";
        }
        xml += "</Item>\n";
    }
    xml += "</Items></Registers>\n";
    return xml;
}

// The five display texts of a row joined by "|"; an invalid cell reads as "".
inline QString displayRow(const QAbstractItemModel& model, int row)
{
    QStringList cells;
    for (int column = 0; column < model.columnCount(); ++column)
        cells << model.data(model.index(row, column), Qt::DisplayRole).toString();
    return cells.join(QLatin1Char('|'));
}

inline QStringList displayRows(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << displayRow(model, row);
    return rows;
}

// Items "Addr|Name|RW|Description" for registers 40000 up, all read-write.
inline QStringList numberedItems(int count)
{
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << QStringLiteral("%1|reg%2|RW|").arg(40000 + i).arg(i);
    return items;
}

inline QString valueText(const QAbstractItemModel& model, int row)
{
    return model.data(model.index(row, 2), Qt::DisplayRole).toString();
}

} // namespace registerFixture
