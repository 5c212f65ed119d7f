// The fake device library's record of calls, as the register tests read it.
#pragma once

#include "fakesdk.h"

#include <vector>

namespace registerFixture {

inline int countCalls(const char* function)
{
    return fakesdk::countCalls(function);
}

inline std::vector<fakesdk::Call> callsOf(const char* function)
{
    std::vector<fakesdk::Call> out;
    for (const fakesdk::Call& c : fakesdk::calls()) {
        if (c.function == function)
            out.push_back(c);
    }
    return out;
}

} // namespace registerFixture
