#include "eventloglocation.h"

#include <QStandardPaths>

#include <string>

#include <windows.h>

namespace platform {

QString eventLogFolder()
{
    // GenericDataLocation is %LOCALAPPDATA% on Windows.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tarvolt/UPS");
}

bool syncToDisk(int, const QString& path)
{
    // QFile keeps no C descriptor for a file it opened by name here; a handle
    // of our own flushes the same file's buffers.
    const std::wstring name = path.toStdWString();
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(h) != 0;
    ::CloseHandle(h);
    return ok;
}

} // namespace platform
