#include "registertransaction.h"

#include "comadapter.h"

constexpr quint16 registerTransaction::kFirstRegister;
constexpr int registerTransaction::kBlockCount;
constexpr int registerTransaction::kBufferSize;

registerTransaction registerTransaction::readBlock()
{
    return registerTransaction();
}

registerTransaction registerTransaction::writeRegister(quint32 regAddr, quint16 value, quint64 request)
{
    registerTransaction t;
    t.kind = WriteRegister;
    t.regAddr = regAddr;
    t.value = value;
    t.request = request;
    return t;
}

void registerTransaction::run()
{
    // The link may have been closed since this exchange was decided on.
    if (!g_comAdapter.isConnected())
        return;
    performed = true;
    if (kind == WriteRegister)
        result = g_comAdapter.slotWriteRegister(regAddr, value);
    else
        result = g_comAdapter.slotReadStatus(kFirstRegister, kBlockCount, values.data());
}
