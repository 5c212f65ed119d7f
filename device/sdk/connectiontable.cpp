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
    m_opening.insert(descriptor);
    return QR7215_OK;
}

void connectionTable::finish(deviceDescriptor* descriptor, std::shared_ptr<connection> link)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opening.erase(descriptor);
    if (!link)
        return;
    while (m_nextHandle == 0 || m_open.count(m_nextHandle))
        ++m_nextHandle;
    const uint32_t handle = m_nextHandle++;
    m_open[handle] = entry{descriptor, std::move(link)};
    descriptor->handle = handle;
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
