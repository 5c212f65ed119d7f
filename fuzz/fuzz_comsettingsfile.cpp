// The config_com.xml reader on any bytes, and the save that follows it: a
// file that fails to read leaves the record untouched; a record read from
// any file saves, and reads back the same. (A record the program cannot
// read back after its own save would lose every setting at the next start.)
#include "comsettings.h"
#include "comsettingsfile.h"
#include "memoryfile.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

bool sameRecord(const comSettings& a, const comSettings& b)
{
    return a.comPort == b.comPort && a.comPortNumber == b.comPortNumber && a.slaveId == b.slaveId
           && a.baudRate == b.baudRate && a.comMode == b.comMode && a.dataLen == b.dataLen
           && a.stopBits == b.stopBits && a.parity == b.parity && a.responseTimeout == b.responseTimeout
           && a.numOfRetries == b.numOfRetries && a.pollDelay == b.pollDelay && a.autoBoot == b.autoBoot
           && a.autoConnect == b.autoConnect && a.autoHide == b.autoHide;
}

// The saves go to memory too (tmpfs), so the run is not bound by the disk:
// to QR7215_FUZZ_SCRATCH, which tools/fuzz.sh makes and removes (libFuzzer
// may end without running destructors), else to a folder of its own.
QString saveFolder()
{
    const QString scratch = qEnvironmentVariable("QR7215_FUZZ_SCRATCH");
    if (!scratch.isEmpty() && QDir().mkpath(scratch))
        return scratch;
    static QTemporaryDir folder(QStringLiteral("/dev/shm/qr7215-fuzz-XXXXXX"));
    return folder.isValid() ? folder.path() : QDir::tempPath();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static memoryFile input;
    static const QString saved = saveFolder() + QStringLiteral("/config_com.xml");
    if (!input.valid() || !input.fill(data, size))
        abort();

    const comSettings defaults;
    comSettings record;
    if (!comSettingsFile::read(input.path(), record)) {
        if (!sameRecord(record, defaults))
            abort();
        return 0;
    }

    if (!comSettingsFile::write(saved, record))
        abort();
    comSettings again;
    if (!comSettingsFile::read(saved, again) || !sameRecord(again, record))
        abort();
    return 0;
}
