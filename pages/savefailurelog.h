// Failed saves of the operator's settings (the connection file, the settings
// store, the start-up entry) are told in the log once: the first failure of a
// file gives one line with the file and the reason, and the file is told
// about again only after a save of it has gone through. Every change of a
// control saves, so without this a disk that refuses writes would flood the
// log, and silence would lose every change at the next start.
#pragma once

#include <QString>

namespace saveFailureLog {

// The outcome of one save of file; reason says why a failed one failed.
void saved(const QString& file, bool ok, const QString& reason = QString());

} // namespace saveFailureLog
