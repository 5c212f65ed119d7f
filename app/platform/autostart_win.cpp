// Start-up registration on Windows: the value <name> of type REG_SZ under the
// current user's Run key holds the full path of the executable.
#include "autostart.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cwchar>
#include <string>

namespace platform {
namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string narrow(const wchar_t* wide)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(length - 1));
    return utf8;
}

// True when the value can be read as REG_SZ into a buffer of MAX_PATH wide
// characters; a longer value cannot name this executable anyway.
bool readValue(HKEY key, const wchar_t* name, wchar_t (&buffer)[MAX_PATH])
{
    DWORD size = sizeof(buffer);
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS;
}

bool fail(std::string* reason, const char* why)
{
    if (reason)
        *reason = why;
    return false;
}

bool registerPath(const std::wstring& name, const wchar_t* path, std::string* reason)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return fail(reason, "the Run key cannot be opened");
    wchar_t stored[MAX_PATH] = {};
    if (readValue(key, name.c_str(), stored) && std::wcscmp(stored, path) == 0) {
        RegCloseKey(key);
        return true;
    }
    RegDeleteValueW(key, name.c_str());
    const DWORD bytes = static_cast<DWORD>(sizeof(wchar_t) * (lstrlenW(path) + 1));
    const LONG written = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes);
    RegCloseKey(key);
    return written == ERROR_SUCCESS || fail(reason, "the value cannot be written");
}

// The running executable's full path, or empty when it does not fit.
std::wstring ownPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A truncated path would name a program that does not exist.
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(path, length);
}

bool unregisterPath(const std::wstring& name, const std::wstring& path, std::string* reason)
{
    if (name.empty() || path.empty())
        return true;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return true;
    // Only this executable's own value goes; Windows paths ignore case. A
    // value too long to read cannot name this executable.
    wchar_t stored[MAX_PATH] = {};
    bool removed = true;
    if (readValue(key, name.c_str(), stored) && _wcsicmp(stored, path.c_str()) == 0)
        removed = RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS;
    RegCloseKey(key);
    return removed || fail(reason, "the value cannot be removed");
}

} // namespace

std::string currentExecutablePath()
{
    const std::wstring path = ownPath();
    return path.empty() ? std::string() : narrow(path.c_str());
}

std::string autoStartEntry(const std::string& name)
{
    return "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\" + name;
}

bool registerAutoStart(const std::string& name, std::string* reason)
{
    const std::wstring path = ownPath();
    if (name.empty() || path.empty())
        return fail(reason, "the path of the program is not known");
    return registerPath(widen(name), path.c_str(), reason);
}

bool registerAutoStart(const std::string& name, const std::string& executablePath, std::string* reason)
{
    if (name.empty() || executablePath.empty())
        return fail(reason, "the path of the program is not known");
    const std::wstring path = widen(executablePath);
    return registerPath(widen(name), path.c_str(), reason);
}

bool unregisterAutoStart(const std::string& name, std::string* reason)
{
    return unregisterPath(widen(name), ownPath(), reason);
}

bool unregisterAutoStart(const std::string& name, const std::string& executablePath, std::string* reason)
{
    return unregisterPath(widen(name), widen(executablePath), reason);
}

} // namespace platform
