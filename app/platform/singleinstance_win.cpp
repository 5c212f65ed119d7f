// Single-instance guard on a named mutex of the logon session. The handle is
// kept open for the life of the process; the system releases it on any exit.
#include "singleinstance.h"

#include <windows.h>

#include <string>

namespace platform {

bool acquireSingleInstance(const char* name)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    std::wstring wideName(length > 0 ? static_cast<size_t>(length) : 1u, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, name, -1, &wideName[0], length);

    HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.c_str());
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED)) {
        // Access denied: the name exists but belongs to another security
        // context of this session, which is another instance all the same.
        if (mutex != nullptr)
            CloseHandle(mutex);
        return false;
    }
    // Any other failure leaves no guard; running beats refusing to start.
    return true;
}

} // namespace platform
