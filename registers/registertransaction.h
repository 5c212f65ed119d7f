// One exchange of the register table with the device: the block read of a
// refresh, or the single pending write that takes that refresh's place. A
// plain value: made on the GUI thread, carried out on whichever thread runs
// it, and handed back whole with its outcome.
#pragma once

#include "sdk/qr7215registers.h"

#include <QtGlobal>

#include <array>

class registerTransaction
{
public:
    // The block of a read: kBlockCount registers from kFirstRegister.
    static constexpr quint16 kFirstRegister = QR7215_TABLE_BLOCK_START;
    static constexpr int kBlockCount = QR7215_TABLE_BLOCK_COUNT;
    static constexpr int kBufferSize = 50;
    using block = std::array<quint16, kBufferSize>;

    enum Kind { ReadBlock, WriteRegister };

    static registerTransaction readBlock();
    // `request` tells this write apart from one the operator asks for later.
    static registerTransaction writeRegister(quint32 regAddr, quint16 value, quint64 request);

    // Carries the exchange out through the device adapter, on the calling
    // thread. A link that is closed by then is left alone: nothing is sent
    // and nothing is logged.
    void run();

    bool isWrite() const { return kind == WriteRegister; }
    // True when a read took place and brought the block.
    bool hasBlock() const { return kind == ReadBlock && performed && result == 0; }

    Kind kind = ReadBlock;
    quint32 regAddr = 0;
    quint16 value = 0;
    quint64 request = 0;
    // The model's count of lost links when the exchange was decided on.
    quint64 link = 0;
    // Outcome.
    bool performed = false;
    int result = -1;
    block values{};
};
