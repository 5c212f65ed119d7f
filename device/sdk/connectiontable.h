// The library's table of open links and of bound port names. A descriptor
// carries only a 32-bit handle into this table (never a pointer, so the
// descriptor layout is the same for 32- and 64-bit callers); port names are
// kept by the descriptor's address. One mutex guards the table and every
// read or write of a descriptor's handle field.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "qr7215sdk.h"

namespace qr7215sdk {

class connection;

class connectionTable
{
public:
    // The one table. Never destroyed: a caller's static object may still
    // close its link while the process exits.
    static connectionTable& instance();

    void bindName(const void* descriptor, const std::string& name);
    std::string boundName(const void* descriptor) const;

    // Marks an open in progress for the descriptor. QR7215_E_ALREADY_OPEN
    // when it has a link or another thread is opening it.
    int reserve(deviceDescriptor* descriptor);
    // Makes the connection being opened reachable by cancelOpen(). False
    // when the open has been cancelled already.
    bool attach(const deviceDescriptor* descriptor, std::shared_ptr<connection> link);
    // Ends the open begun by reserve(): with a connection it is entered and
    // its handle written to the descriptor; with none the reservation is
    // dropped. An open cancelled meanwhile enters nothing and gives
    // QR7215_E_NOT_OPEN.
    int finish(deviceDescriptor* descriptor, std::shared_ptr<connection> link);
    // For a descriptor with an open in progress: marks it cancelled and
    // gives the connection being opened (null before attach()). False when
    // no open is in progress.
    bool cancelOpen(const deviceDescriptor* descriptor, std::shared_ptr<connection>& pending);

    // The descriptor's link, or null.
    std::shared_ptr<connection> find(const deviceDescriptor* descriptor) const;
    // Takes the link out of the table and zeroes the handle; null when not open.
    std::shared_ptr<connection> remove(deviceDescriptor* descriptor);

private:
    connectionTable() = default;

    struct entry {
        const deviceDescriptor* owner;
        std::shared_ptr<connection> link;
    };

    const entry* lookup(const deviceDescriptor* descriptor) const;

    mutable std::mutex m_mutex;
    std::map<uint32_t, entry> m_open;
    struct opening {
        std::shared_ptr<connection> link;
        bool cancelled = false;
    };
    std::map<const void*, opening> m_opening;
    std::map<const void*, std::string> m_names;
    uint32_t m_nextHandle = 1;
};

} // namespace qr7215sdk
