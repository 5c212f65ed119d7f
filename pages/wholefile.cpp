#include "wholefile.h"

#include <QSaveFile>

namespace wholeFile {

bool save(const QString& path, const QByteArray& bytes, QString* reason)
{
    // Unbuffered, so that a write a full disk cuts short shows in its count:
    // Qt 5's QSaveFile would otherwise commit the short file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *reason = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace wholeFile
