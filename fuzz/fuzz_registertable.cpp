// The config_registers.xml reader on any bytes: never a crash or a sanitizer
// report, one of its three results, and rows only when the file was read.
#include "dataobject.h"
#include "memoryfile.h"
#include "registertablefile.h"

#include <QFile>
#include <QList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static memoryFile table;
    if (!table.valid() || !table.fill(data, size))
        abort();

    QFile file(table.path());
    QList<DataObject*> rows;
    const int result = registerTableFile::read(file, &rows);
    if (result == registerTableFile::Read) {
        for (const DataObject* row : rows) {
            // The access code is always one the table knows how to show.
            if (row->rw > DataObject::AccessReadWrite)
                abort();
        }
    } else if (result != registerTableFile::NotWellFormed || !rows.isEmpty()) {
        // The memory file always opens; a failed read appends nothing.
        abort();
    }
    if (file.isOpen())
        abort();
    qDeleteAll(rows);
    return 0;
}
