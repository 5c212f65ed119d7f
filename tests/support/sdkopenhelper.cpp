// A second program for the device library tests: opens the port it is given
// with the library and prints the result code. The tests run it as another
// process (a second program on a busy port) and as an unprivileged user (a
// port without permission). "--probe" only prints "probe", to find out
// whether the user can run it at all.
#include <cstdio>
#include <cstring>

#include "sdk/qr7215sdk.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sdk-open-helper PORT | --probe\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--probe") == 0) {
        std::printf("probe\n");
        return 0;
    }
    deviceDescriptor d{};
    d.comPort = 1;
    d.slaveAddress = 1;
    d.stopBits = 1;
    d.dataBits = 8;
    d.baudRate = 115200;
    d.responseTimeout = 200;
    d.retries = 0;
    deviceInfo info{};
    UPS_SetPortName(&d, argv[1]);
    const int rc = UPS_DeviceOpen(&d, &info);
    std::printf("%d\n", rc);
    if (rc == QR7215_OK)
        UPS_DeviceClose(&d);
    return 0;
}
