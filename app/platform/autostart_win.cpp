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

void registerPath(const std::wstring& name, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    wchar_t stored[MAX_PATH] = {};
    if (readValue(key, name.c_str(), stored) && std::wcscmp(stored, path) == 0) {
        RegCloseKey(key);
        return;
    }
    RegDeleteValueW(key, name.c_str());
    const DWORD bytes = static_cast<DWORD>(sizeof(wchar_t) * (lstrlenW(path) + 1));
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes);
    RegCloseKey(key);
}

} // namespace

std::string currentExecutablePath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return narrow(path);
}

void registerAutoStart(const std::string& name)
{
    if (name.empty())
        return;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A truncated path would register a program that does not exist.
    if (length == 0 || length >= MAX_PATH)
        return;
    registerPath(widen(name), path);
}

void registerAutoStart(const std::string& name, const std::string& executablePath)
{
    if (name.empty() || executablePath.empty())
        return;
    const std::wstring path = widen(executablePath);
    registerPath(widen(name), path.c_str());
}

void unregisterAutoStart(const std::string& name)
{
    if (name.empty())
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    const std::wstring wideName = widen(name);
    // Asked without a buffer, so a value too long to read still counts as there.
    if (RegGetValueW(key, nullptr, wideName.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        RegDeleteValueW(key, wideName.c_str());
    RegCloseKey(key);
}

} // namespace platform
