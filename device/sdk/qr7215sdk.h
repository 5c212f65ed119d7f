/* QR-7215 device library: Modbus RTU access to one QR-7215 UPS module.
 *
 * The C interface the utility links against. The same source builds the
 * Linux shared object and the Windows DLL. The descriptor and info blocks
 * keep the byte layout the utility has always passed, so the caller fills
 * them exactly as it would for any build of the library.
 *
 * Calling order: UPS_SetPortName (optional), UPS_DeviceOpen, any number of
 * UPS_ReadRegisters / UPS_WriteRegisters, UPS_DeviceClose. Every function
 * returns 0 on success or one of the negative QR7215_E_* codes below.
 * All functions are safe to call from several threads at once. */
#ifndef QR7215SDK_H
#define QR7215SDK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QR7215SDK_BUILD)
#    define QR7215SDK_API __declspec(dllexport)
#  else
#    define QR7215SDK_API __declspec(dllimport)
#  endif
#else
#  define QR7215SDK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Filled by the caller and passed unchanged to every call from open to close. */
typedef struct deviceDescriptor {
    uint32_t handle;          /* 0: owned by the library (connection handle), zero at start */
    uint8_t  comMode;         /* 4: 0 = Modbus RTU, the only mode */
    uint8_t  comPort;         /* 5: port number, used when no name is bound */
    uint8_t  slaveAddress;    /* 6: Modbus slave address */
    uint8_t  parity;          /* 7: 0 none, 1 even, 2 odd */
    uint8_t  stopBits;        /* 8: 1 or 2 */
    uint8_t  dataBits;        /* 9: 8 (7 is accepted too) */
    uint8_t  reserved[2];     /* 10: padding */
    uint32_t baudRate;        /* 12 */
    uint32_t responseTimeout; /* 16: ms to wait for each answer */
    uint32_t retries;         /* 20: extra attempts after a time-out or a damaged answer */
    uint32_t reserved2;       /* 24: zero */
} deviceDescriptor;

/* Written by UPS_DeviceOpen on success. */
typedef struct deviceInfo {
    uint16_t deviceType;
    uint16_t hardwareVersion;
    uint16_t firmwareVersion;
    uint16_t driverVersion;
} deviceInfo;

#ifdef __cplusplus
static_assert(sizeof(deviceDescriptor) == 28, "descriptor is 28 bytes");
static_assert(offsetof(deviceDescriptor, handle) == 0, "layout");
static_assert(offsetof(deviceDescriptor, comMode) == 4, "layout");
static_assert(offsetof(deviceDescriptor, comPort) == 5, "layout");
static_assert(offsetof(deviceDescriptor, slaveAddress) == 6, "layout");
static_assert(offsetof(deviceDescriptor, parity) == 7, "layout");
static_assert(offsetof(deviceDescriptor, stopBits) == 8, "layout");
static_assert(offsetof(deviceDescriptor, dataBits) == 9, "layout");
static_assert(offsetof(deviceDescriptor, baudRate) == 12, "layout");
static_assert(offsetof(deviceDescriptor, responseTimeout) == 16, "layout");
static_assert(offsetof(deviceDescriptor, retries) == 20, "layout");
static_assert(offsetof(deviceDescriptor, reserved2) == 24, "layout");
static_assert(sizeof(deviceInfo) == 8, "info is 8 bytes");
static_assert(offsetof(deviceInfo, hardwareVersion) == 2, "layout");
static_assert(offsetof(deviceInfo, firmwareVersion) == 4, "layout");
static_assert(offsetof(deviceInfo, driverVersion) == 6, "layout");
#endif

/* Result codes. Every failure has its own code so that a log line that
 * carries only the number still says what went wrong. */
enum {
    QR7215_OK               = 0,
    QR7215_E_ARGUMENT       = -2,   /* null pointer, count 0 or above 125, bad line setting */
    QR7215_E_NOT_OPEN       = -3,   /* no open link on this descriptor */
    QR7215_E_PORT_NOT_FOUND = -4,   /* the serial port does not exist */
    QR7215_E_PERMISSION     = -5,   /* no permission to open the port */
    QR7215_E_PORT_BUSY      = -6,   /* another program holds the port */
    QR7215_E_PORT_SETUP     = -7,   /* not a serial port, or the line settings were refused */
    QR7215_E_TIMEOUT        = -8,   /* no answer within the response time-out, after all retries */
    QR7215_E_CRC            = -9,   /* answers kept arriving with a bad CRC, after all retries */
    QR7215_E_BAD_ANSWER     = -10,  /* an answer of the wrong slave, function or length */
    QR7215_E_LINK_LOST      = -11,  /* the port hung up (adapter unplugged, peer gone) */
    QR7215_E_ALREADY_OPEN   = -12,  /* the descriptor already has an open link */
    QR7215_E_NOT_QR7215     = -13,  /* a device answered but is not a QR-7215 */
    QR7215_E_IO             = -14,  /* any other input/output error of the port */
    QR7215_E_EXCEPTION_BASE = -100  /* -100 - code: the module answered with Modbus exception code (1..255) */
};

/* Register numbers, the identification read at open and QR7215_DEVICE_TYPE. */
#include "qr7215registers.h"

/* Binds a UTF-8 port name to the descriptor for the next open: "ttyUSB0"
 * means /dev/ttyUSB0 (COM3 on Windows means \\.\COM3), a path is used as it
 * stands; an empty name or NULL removes the binding, so the port number of
 * the descriptor is used (COMn on Windows, /dev/ttyS(n-1) on Linux). */
QR7215SDK_API int UPS_SetPortName(void* descriptor, const char* name);

QR7215SDK_API int UPS_DeviceOpen(deviceDescriptor* descriptor, deviceInfo* info);
/* Also cancels an UPS_DeviceOpen in progress on another thread: that open
 * then returns QR7215_E_NOT_OPEN within milliseconds. */
QR7215SDK_API int UPS_DeviceClose(deviceDescriptor* descriptor);
/* Reads count (1..125) holding registers from register number start (40000 and up). */
QR7215SDK_API int UPS_ReadRegisters(deviceDescriptor* descriptor, uint16_t start,
                                    uint8_t count, uint16_t* values);
/* Writes count (1..123) registers: one with function 0x06, several with 0x10. */
QR7215SDK_API int UPS_WriteRegisters(deviceDescriptor* descriptor, uint32_t start,
                                     uint8_t count, const uint16_t* values);

/* A short English text for a result code; never NULL. */
QR7215SDK_API const char* UPS_ErrorText(int code);

#ifdef __cplusplus
}
#endif

#endif
