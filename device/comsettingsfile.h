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
    // well-formed XML, and then the record is untouched.
    static bool read(const QString& fileName, comSettings& settings);

    // Writes the whole record. The old file is replaced only once the new one
    // is complete on disk, so a failed save leaves it as it was.
    static bool write(const QString& fileName, const comSettings& settings);
};
