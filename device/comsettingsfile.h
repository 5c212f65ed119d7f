// The connection settings file (configs/config_com.xml): converts the
// connection record to and from its XML form.
#pragma once

#include <QString>

class comSettings;

class comSettingsFile
{
public:
    // Applies every field the file gives to the record; fields it does not
    // give keep their values. False when the file cannot be opened or is not
    // well-formed XML (a port name referring to a character XML does not
    // allow counts as such), and then the record is untouched.
    static bool read(const QString& fileName, comSettings& settings);

    // Writes the whole record. The old file is replaced only once the new one
    // is complete on disk, so a failed save leaves it as it was. A port name
    // holding a character XML cannot carry is not saved at all. On failure
    // reason, when given, says why.
    static bool write(const QString& fileName, const comSettings& settings, QString* reason = nullptr);
};
