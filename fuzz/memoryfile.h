// A file in memory (memfd) that the Qt readers under test can open by name,
// as they open the real files: each input is written to it before a run.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

class memoryFile
{
public:
    memoryFile() : m_fd(memfd_create("qr7215-fuzz", 0)) {}
    ~memoryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    memoryFile(const memoryFile&) = delete;
    memoryFile& operator=(const memoryFile&) = delete;

    bool valid() const { return m_fd >= 0; }

    // Replaces the whole content.
    bool fill(const uint8_t* data, size_t size)
    {
        if (ftruncate(m_fd, 0) != 0)
            return false;
        return size == 0 || pwrite(m_fd, data, size, 0) == static_cast<ssize_t>(size);
    }

    // Opening this path opens the memory file anew, at its start.
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};
