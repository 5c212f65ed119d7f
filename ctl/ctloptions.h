// The command line of qr7215ctl: which command, its arguments, and the
// connection settings, which start from the same config_com.xml the program
// uses and are then overridden by the line options.
#pragma once

#include "comsettings.h"

#include <QString>
#include <QStringList>

class ctlOptions
{
public:
    enum class command { None, Status, Read, Write, ListPorts, Watch, Monitor };

    // False when the line is not a valid one: error() says why (exit code
    // Usage). --help and --version parse as valid lines with no command.
    // appDir is where config_com.xml is looked for when --config is not given.
    bool parse(const QStringList& arguments, const QString& appDir);

    QString error() const { return m_error; }
    bool helpRequested() const { return m_help; }
    bool versionRequested() const { return m_version; }
    static QString helpText();

    command what() const { return m_command; }
    const comSettings& settings() const { return m_settings; }
    // The file the settings were read from; empty when none was found.
    QString settingsFile() const { return m_settingsFile; }

    bool json() const { return m_json; }
    quint16 start() const { return m_start; }       // read
    int count() const { return m_count; }            // read
    quint16 registerNumber() const { return m_register; } // write
    QString valueText() const { return m_valueText; }      // write, checked against the register
    int intervalMs() const { return m_intervalMs; }  // watch
    QString nutFile() const { return m_nutFile; }    // monitor

private:
    bool fail(const QString& why);
    bool parseCommand(const QStringList& positional);
    bool loadSettings(const QString& configFile, const QString& appDir);

    QString m_error;
    bool m_help = false;
    bool m_version = false;
    command m_command = command::None;
    comSettings m_settings;
    QString m_settingsFile;
    bool m_json = false;
    quint16 m_start = 0;
    int m_count = 1;
    quint16 m_register = 0;
    QString m_valueText;
    int m_intervalMs = 0;
    QString m_nutFile;
};
