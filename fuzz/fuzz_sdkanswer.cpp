// The device library's check of a module's answer, on any answer to any
// request. The check is file-local to connection.cpp, so that file is
// compiled into this target (and the library itself is not linked).
// Accepted means safe to use: a read's answer then holds every register
// asked for, which the library copies out without further checks.
#include "../device/sdk/connection.cpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qr7215sdk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    // The request: slave, function, then address and count (or value) as
    // the library sends them; only the three functions it ever sends.
    static const uint8_t kFunctions[] = {kReadHolding, kWriteSingle, kWriteMultiple};
    uint8_t raw[6];
    std::memcpy(raw, data, 6);
    raw[1] = kFunctions[raw[1] % 3];
    if (raw[1] == kReadHolding)
        raw[4] = 0;  // the library reads at most 255 registers at once

    // The answer in a buffer of exactly its length, so a read past it shows.
    const int length = static_cast<int>(size - 6);
    std::vector<uint8_t> answer(data + 6, data + size);
    const int result = checkAnswer(raw, answer.data(), length);

    if (result == QR7215_OK) {
        if (answer[0] != raw[0] || answer[1] != raw[1])
            abort();
        if (raw[1] == kReadHolding) {
            const int count = word(raw + 4);
            if (length != 5 + 2 * count)
                abort();
        } else if (length != 8) {
            abort();
        }
    } else if (result != QR7215_E_BAD_ANSWER) {
        // An exception answer: five bytes, the function with its top bit set.
        if (length != 5 || answer[1] != (raw[1] | 0x80) || result != exceptionResult(answer[2]))
            abort();
    }
    return 0;
}
