// Writes a file the operator asked for (a saved log, an exported CSV) whole or
// not at all: an old file of that name stays as it was when the write fails.
#pragma once

#include <QByteArray>
#include <QString>

namespace wholeFile {

// False with the system's reason when the bytes did not all reach the file.
bool save(const QString& path, const QByteArray& bytes, QString* reason);

} // namespace wholeFile
