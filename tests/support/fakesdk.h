// A fake device library with the real one's C interface: tests choose what
// each call returns and what a read delivers, and see every call made.
#pragma once

#include "sdk/qr7215sdk.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fakesdk {

struct Call
{
    std::string function;   // "open", "close", "read", "write", "setPortName"
    uint32_t start = 0;
    uint32_t count = 0;
    uint16_t value = 0;     // first written word
    std::string portName;   // bound name at the time of the call
    deviceDescriptor descriptor{};
};

struct State
{
    int openResult = 0;
    int closeResult = 0;
    int readResult = 0;
    int writeResult = 0;
    deviceInfo info{0x7215, 102, 215, 110};
    // Register N lives at registers[N - 40000]; reads copy from here, writes store here.
    std::array<uint16_t, 256> registers{};
    std::vector<Call> calls;
};

// Resets the state to the defaults above.
void reset();
void setOpenResult(int r);
void setCloseResult(int r);
void setReadResult(int r);
void setWriteResult(int r);
void setInfo(const deviceInfo& info);
void setRegister(uint32_t reg, uint16_t value);
uint16_t reg(uint32_t reg);
std::vector<Call> calls();
int countCalls(const std::string& function);

} // namespace fakesdk
