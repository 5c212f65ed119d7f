// Result code mapping and texts.
#include "resultcodes.h"

#include <array>
#include <cerrno>
#include <string>

#include <modbus/modbus.h>

#include "qr7215sdk.h"

namespace qr7215sdk {

namespace {

const char* exceptionName(int code)
{
    switch (code) {
    case 1: return "illegal function";
    case 2: return "illegal data address";
    case 3: return "illegal data value";
    case 4: return "server device failure";
    case 5: return "acknowledge";
    case 6: return "server device busy";
    case 7: return "negative acknowledge";
    case 8: return "memory parity error";
    case 10: return "gateway path unavailable";
    case 11: return "gateway target device failed to respond";
    default: return "not a standard exception code";
    }
}

// Built once, so the texts live as long as the library and need no locking.
const std::array<std::string, 256>& exceptionTexts()
{
    static const std::array<std::string, 256> texts = [] {
        std::array<std::string, 256> t;
        for (int c = 1; c < 256; ++c)
            t[static_cast<size_t>(c)] = "the module answered with Modbus exception " + std::to_string(c)
                                        + " (" + exceptionName(c) + ")";
        return t;
    }();
    return texts;
}

} // namespace

int exceptionResult(uint8_t exceptionCode)
{
    return QR7215_E_EXCEPTION_BASE - exceptionCode;
}

int resultForModbusErrno(int err)
{
    if (err > MODBUS_ENOBASE && err < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX)
        return exceptionResult(static_cast<uint8_t>(err - MODBUS_ENOBASE));
    switch (err) {
    case ETIMEDOUT:
        return QR7215_E_TIMEOUT;
    case EMBBADCRC:
        return QR7215_E_CRC;
    case EMBBADDATA:    // wrong length or too much data
    case EMBBADSLAVE:   // another slave's answer
    case EMBBADEXC:     // a malformed exception answer
    case EMBUNKEXC:
    case EMBMDATA:
        return QR7215_E_BAD_ANSWER;
    case ECONNRESET:    // a read returned end of file: the line hung up
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case EBADF:
        return QR7215_E_LINK_LOST;
    case EINVAL:
        return QR7215_E_ARGUMENT;
    default:
        return QR7215_E_IO;
    }
}

const char* resultText(int code)
{
    switch (code) {
    case QR7215_OK:
        return "success";
    case QR7215_E_ARGUMENT:
        return "invalid argument (null pointer, register count or range out of bounds, or a bad line setting)";
    case QR7215_E_NOT_OPEN:
        return "the device is not open";
    case QR7215_E_PORT_NOT_FOUND:
        return "the serial port does not exist";
    case QR7215_E_PERMISSION:
        return "no permission to open the serial port";
    case QR7215_E_PORT_BUSY:
        return "the serial port is in use by another program";
    case QR7215_E_PORT_SETUP:
        return "not a serial port, or it refused the line settings";
    case QR7215_E_TIMEOUT:
        return "no answer from the module within the response time-out";
    case QR7215_E_CRC:
        return "the module's answers kept arriving damaged (bad CRC)";
    case QR7215_E_BAD_ANSWER:
        return "an answer did not fit the request (wrong slave, function or length)";
    case QR7215_E_LINK_LOST:
        return "the serial link was lost (adapter unplugged or port closed)";
    case QR7215_E_ALREADY_OPEN:
        return "the device is already open";
    case QR7215_E_NOT_QR7215:
        return "the device that answered is not a QR-7215";
    case QR7215_E_IO:
        return "input/output error on the serial port";
    default:
        break;
    }
    if (code <= QR7215_E_EXCEPTION_BASE - 1 && code >= QR7215_E_EXCEPTION_BASE - 255)
        return exceptionTexts()[static_cast<size_t>(QR7215_E_EXCEPTION_BASE - code)].c_str();
    return "unknown result code";
}

} // namespace qr7215sdk
