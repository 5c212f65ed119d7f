// Handle allocation and lookup.
#include "connectiontable.h"

#include "connection.h"

namespace qr7215sdk {

connectionTable& connectionTable::instance()
{
    static connectionTable* table = new connectionTable;
    return *table;
}

void connectionTable::bindName(const void* descriptor, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name.empty())
        m_names.erase(descriptor);
    else
        m_names[descriptor] = name;
}

std::string connectionTable::boundName(const void* descriptor) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_names.find(descriptor);
    return it == m_names.end() ? std::string() : it->second;
}

const connectionTable::entry* connectionTable::lookup(const deviceDescriptor* descriptor) const
{
    const uint32_t handle = descriptor->handle;
    if (handle == 0)
        return nullptr;
    const auto it = m_open.find(handle);
    // A handle that is not ours (a descriptor never zeroed, or a copy of
    // another one) does not reach another descriptor's link.
    if (it == m_open.end() || it->second.owner != descriptor)
        return nullptr;
    return &it->second;
}

int connectionTable::reserve(deviceDescriptor* descriptor)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (lookup(descriptor) || m_opening.count(descriptor))
        return QR7215_E_ALREADY_OPEN;
    m_opening[descriptor] = opening{};
    return QR7215_OK;
}

bool connectionTable::attach(const deviceDescriptor* descriptor, std::shared_ptr<connection> link)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_opening.find(descriptor);
    if (it == m_opening.end() || it->second.cancelled)
        return false;
    it->second.link = std::move(link);
    return true;
}

bool connectionTable::cancelOpen(const deviceDescriptor* descriptor, std::shared_ptr<connection>& pending)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_opening.find(descriptor);
    if (it == m_opening.end())
        return false;
    it->second.cancelled = true;
    pending = it->second.link;
    return true;
}

int connectionTable::finish(deviceDescriptor* descriptor, std::shared_ptr<connection> link)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto it = m_opening.find(descriptor);
    const bool cancelled = it != m_opening.end() && it->second.cancelled;
    if (it != m_opening.end())
        m_opening.erase(it);
    if (cancelled) {
        // Closed outside the table's lock: a close waits for the port.
        lock.unlock();
        if (link)
            link->close();
        return QR7215_E_NOT_OPEN;
    }
    if (!link)
        return QR7215_OK;
    while (m_nextHandle == 0 || m_open.count(m_nextHandle))
        ++m_nextHandle;
    const uint32_t handle = m_nextHandle++;
    m_open[handle] = entry{descriptor, std::move(link)};
    descriptor->handle = handle;
    return QR7215_OK;
}

std::shared_ptr<connection> connectionTable::find(const deviceDescriptor* descriptor) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const entry* e = lookup(descriptor);
    return e ? e->link : nullptr;
}

std::shared_ptr<connection> connectionTable::remove(deviceDescriptor* descriptor)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const entry* e = lookup(descriptor);
    if (!e)
        return nullptr;
    std::shared_ptr<connection> link = e->link;
    m_open.erase(descriptor->handle);
    descriptor->handle = 0;
    return link;
}

} // namespace qr7215sdk
