// Reading of config_registers.xml, the file that lists the module's
// configuration registers. The file carries no values; those come from the
// device. Kept apart from the model so a table can be read from any file.
#pragma once

#include <QList>
#include <QString>

class DataObject;
class QFile;

namespace registerTableFile {

enum Result { Read = 0, CannotOpen = -1, NotWellFormed = -2 };

// An "Item" may give the values its register takes in "Min" and "Max"
// (decimal, 0 to 65535, either one alone); readers that know only "Addr",
// "Name", "RW" and "Description" pass over them.
// Appends one new row per "Item" to rows, which the caller then owns. On
// failure rows is left as it was. The file is closed again before returning.
int read(QFile& file, QList<DataObject*>* rows);

// "R" 1, "W" 2, "RW" and "WR" 3, whatever the case; anything else 0.
quint8 accessCode(const QString& text);
// The reverse for display: empty for codes that mean no access.
QString accessText(quint8 code);

} // namespace registerTableFile
