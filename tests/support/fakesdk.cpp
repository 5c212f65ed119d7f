#include "fakesdk.h"

#include <mutex>

namespace fakesdk {
namespace {

std::mutex g_mutex;
State g_state;
std::string g_portName;

Call makeCall(const char* function, const deviceDescriptor* d)
{
    Call c;
    c.function = function;
    c.portName = g_portName;
    if (d)
        c.descriptor = *d;
    return c;
}

} // namespace

void reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state = State();
    g_portName.clear();
}

void setOpenResult(int r) { std::lock_guard<std::mutex> l(g_mutex); g_state.openResult = r; }
void setCloseResult(int r) { std::lock_guard<std::mutex> l(g_mutex); g_state.closeResult = r; }
void setReadResult(int r) { std::lock_guard<std::mutex> l(g_mutex); g_state.readResult = r; }
void setWriteResult(int r) { std::lock_guard<std::mutex> l(g_mutex); g_state.writeResult = r; }
void setInfo(const deviceInfo& info) { std::lock_guard<std::mutex> l(g_mutex); g_state.info = info; }

void setRegister(uint32_t reg, uint16_t value)
{
    std::lock_guard<std::mutex> l(g_mutex);
    if (reg >= QR7215_FIRST_REGISTER && reg - QR7215_FIRST_REGISTER < g_state.registers.size())
        g_state.registers[reg - QR7215_FIRST_REGISTER] = value;
}

uint16_t reg(uint32_t reg)
{
    std::lock_guard<std::mutex> l(g_mutex);
    if (reg >= QR7215_FIRST_REGISTER && reg - QR7215_FIRST_REGISTER < g_state.registers.size())
        return g_state.registers[reg - QR7215_FIRST_REGISTER];
    return 0;
}

std::vector<Call> calls()
{
    std::lock_guard<std::mutex> l(g_mutex);
    return g_state.calls;
}

int countCalls(const std::string& function)
{
    std::lock_guard<std::mutex> l(g_mutex);
    int n = 0;
    for (const Call& c : g_state.calls)
        n += c.function == function ? 1 : 0;
    return n;
}

} // namespace fakesdk

using fakesdk::g_mutex;
using fakesdk::g_portName;
using fakesdk::g_state;

extern "C" {

int UPS_SetPortName(void* descriptor, const char* name)
{
    std::lock_guard<std::mutex> l(g_mutex);
    g_portName = name ? name : "";
    g_state.calls.push_back(fakesdk::makeCall("setPortName", static_cast<deviceDescriptor*>(descriptor)));
    return 0;
}

int UPS_DeviceOpen(deviceDescriptor* descriptor, deviceInfo* info)
{
    std::lock_guard<std::mutex> l(g_mutex);
    g_state.calls.push_back(fakesdk::makeCall("open", descriptor));
    if (g_state.openResult == 0 && info)
        *info = g_state.info;
    return g_state.openResult;
}

int UPS_DeviceClose(deviceDescriptor* descriptor)
{
    std::lock_guard<std::mutex> l(g_mutex);
    g_state.calls.push_back(fakesdk::makeCall("close", descriptor));
    return g_state.closeResult;
}

int UPS_ReadRegisters(deviceDescriptor* descriptor, uint16_t start, uint8_t count, uint16_t* values)
{
    std::lock_guard<std::mutex> l(g_mutex);
    fakesdk::Call c = fakesdk::makeCall("read", descriptor);
    c.start = start;
    c.count = count;
    g_state.calls.push_back(c);
    if (g_state.readResult != 0)
        return g_state.readResult;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t index = start + i - QR7215_FIRST_REGISTER;
        values[i] = index < g_state.registers.size() ? g_state.registers[index] : 0;
    }
    return 0;
}

int UPS_WriteRegisters(deviceDescriptor* descriptor, uint32_t start, uint8_t count, const uint16_t* values)
{
    std::lock_guard<std::mutex> l(g_mutex);
    fakesdk::Call c = fakesdk::makeCall("write", descriptor);
    c.start = start;
    c.count = count;
    c.value = count ? values[0] : 0;
    g_state.calls.push_back(c);
    if (g_state.writeResult != 0)
        return g_state.writeResult;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t index = start + i - QR7215_FIRST_REGISTER;
        if (index < g_state.registers.size())
            g_state.registers[index] = values[i];
    }
    return 0;
}

const char* UPS_ErrorText(int code)
{
    return code == 0 ? "success" : "fake failure";
}

} // extern "C"
