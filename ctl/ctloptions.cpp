#include "ctloptions.h"

#include "comsettingsfile.h"
#include "comsettingswidget.h"
#include "ctlexit.h"
#include "sdk/qr7215registers.h"
#include "settingslocation.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <functional>

namespace {

// What one numeric option accepts, and where it goes; the device library
// would refuse the rest only at open, with a less helpful word.
struct numberRule
{
    const char* name;
    quint32 minimum;
    quint32 maximum;
    std::function<void(quint32)> store;
};

// The connection page's range: what the program would poll with.
constexpr quint32 kPollMin = 20;
constexpr quint32 kPollMax = 10000;

bool number(const QString& text, quint32 minimum, quint32 maximum, quint32* out)
{
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (!ok || text.startsWith(QLatin1Char('+')) || v < minimum || v > maximum)
        return false;
    *out = static_cast<quint32>(v);
    return true;
}

} // namespace

bool ctlOptions::fail(const QString& why)
{
    m_error = why;
    return false;
}

QString ctlOptions::helpText()
{
    return QStringLiteral(
               "Usage: qr7215ctl [options] COMMAND [arguments]\n"
               "\n"
               "Commands:\n"
               "  status [--json]                 one read of the status block, decoded\n"
               "  read START [COUNT] [--json]     COUNT registers (1 to 125, default 1) from START (40000 on)\n"
               "  write REGISTER VALUE            one register, if the register table lets it take VALUE\n"
               "  list-ports                      the serial ports of this system\n"
               "  watch [--json] [--interval MS]  a line for every change of the status block, until stopped\n"
               "  monitor [--nut-file PATH]       the headless watch: log, policy, script, reconnects\n"
               "\n"
               "Connection (default: config_com.xml of the program, or --config FILE):\n"
               "  --port NAME        ttyUSB0, /dev/serial/by-id/..., COM3\n"
               "  --slave N          Modbus slave address, 1 to 247\n"
               "  --baud B           baud rate\n"
               "  --data-bits N      7 or 8\n"
               "  --stop-bits N      1 or 2\n"
               "  --parity P         none, even or odd\n"
               "  --timeout MS       response time-out\n"
               "  --retries N        retries per request\n"
               "  --poll MS          poll period of watch and monitor, 20 to 10000\n"
               "  --config FILE      read the connection settings from FILE\n"
               "\n"
               "  -h, --help         this text\n"
               "  --version          the version\n"
               "\n")
           + ctlExit::summary() + QLatin1Char('\n');
}

bool ctlOptions::parse(const QStringList& arguments, const QString& appDir)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("name"));
    const QCommandLineOption parity(QStringLiteral("parity"), QString(), QStringLiteral("p"));
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("file"));
    const QCommandLineOption nutFile(QStringLiteral("nut-file"), QString(), QStringLiteral("path"));
    comSettings& s = m_settings;
    const numberRule rules[] = {
        {"slave", 1, 247, [&s](quint32 v) { s.slaveId = static_cast<quint16>(v); }},
        {"baud", 50, 4000000, [&s](quint32 v) { s.baudRate = v; }},
        {"data-bits", 7, 8, [&s](quint32 v) { s.dataLen = static_cast<quint8>(v); }},
        {"stop-bits", 1, 2, [&s](quint32 v) { s.stopBits = static_cast<quint8>(v); }},
        {"timeout", 1, 60000, [&s](quint32 v) { s.responseTimeout = v; }},
        {"retries", 0, 100, [&s](quint32 v) { s.numOfRetries = v; }},
        {"poll", kPollMin, kPollMax, [&s](quint32 v) { s.pollDelay = v; }},
        {"interval", 1, 3600000, [this](quint32 v) { m_intervalMs = static_cast<int>(v); }},
    };
    parser.addOptions({help, version, json, port, parity, config, nutFile});
    for (const numberRule& r : rules)
        parser.addOption(QCommandLineOption(QString::fromLatin1(r.name), QString(), QStringLiteral("n")));

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    m_help = parser.isSet(help);
    m_version = parser.isSet(version);
    if (m_help || m_version)
        return true;

    if (!loadSettings(parser.value(config), appDir))
        return false;
    if (parser.isSet(port)) {
        if (parser.value(port).isEmpty())
            return fail(QStringLiteral("--port needs a port name"));
        m_settings.comPort = parser.value(port);
    }
    if (parser.isSet(parity)) {
        const QStringList names{QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd")};
        const int index = names.indexOf(parser.value(parity).toLower());
        if (index < 0)
            return fail(QStringLiteral("--parity takes none, even or odd, not \"%1\"").arg(parser.value(parity)));
        m_settings.parity = static_cast<quint8>(index);
    }
    for (const numberRule& r : rules) {
        const QString name = QString::fromLatin1(r.name);
        if (!parser.isSet(name))
            continue;
        quint32 v = 0;
        if (!number(parser.value(name), r.minimum, r.maximum, &v))
            return fail(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                            .arg(name).arg(r.minimum).arg(r.maximum).arg(parser.value(name)));
        r.store(v);
    }
    // A file's poll period outside the page's range is the one the page
    // would show, and poll with.
    if (!parser.isSet(QStringLiteral("poll")))
        m_settings.pollDelay = qBound(kPollMin, m_settings.pollDelay, kPollMax);
    // What the connection page would derive from the name.
    m_settings.comPortNumber = static_cast<quint16>(portNumberFromName(m_settings.comPort));
    m_json = parser.isSet(json);
    m_nutFile = parser.value(nutFile);
    if (!parseCommand(parser.positionalArguments()))
        return false;
    if (m_json && m_command != command::Status && m_command != command::Read && m_command != command::Watch)
        return fail(QStringLiteral("--json goes with status, read and watch"));
    if (parser.isSet(QStringLiteral("interval")) && m_command != command::Watch)
        return fail(QStringLiteral("--interval goes with watch"));
    if (parser.isSet(nutFile) && (m_command != command::Monitor || m_nutFile.isEmpty()))
        return fail(QStringLiteral("--nut-file goes with monitor and needs a path"));
    if (m_intervalMs == 0)
        m_intervalMs = static_cast<int>(qMax<quint32>(m_settings.pollDelay, 1));
    return true;
}

bool ctlOptions::loadSettings(const QString& configFile, const QString& appDir)
{
    if (!configFile.isEmpty()) {
        // Named on purpose: a file that is not there is a mistake, not a default.
        if (!comSettingsFile::read(configFile, m_settings))
            return fail(QStringLiteral("cannot read the connection settings from %1").arg(configFile));
        m_settingsFile = configFile;
        return true;
    }
    const platform::connectionSettingsFiles files = platform::connectionSettingsLocation(appDir);
    for (const QString& candidate : {files.file, files.firstStartDefault}) {
        if (!candidate.isEmpty() && QFileInfo::exists(candidate) && comSettingsFile::read(candidate, m_settings)) {
            m_settingsFile = candidate;
            break;
        }
    }
    return true;
}

bool ctlOptions::parseCommand(const QStringList& positional)
{
    if (positional.isEmpty())
        return fail(QStringLiteral("no command given (status, read, write, list-ports, watch, monitor)"));
    const QString name = positional.first();
    const QStringList args = positional.mid(1);
    struct entry { const char* name; command what; int minArgs; int maxArgs; };
    static const entry table[] = {
        {"status", command::Status, 0, 0},   {"read", command::Read, 1, 2},
        {"write", command::Write, 2, 2},     {"list-ports", command::ListPorts, 0, 0},
        {"watch", command::Watch, 0, 0},     {"monitor", command::Monitor, 0, 0},
    };
    const entry* found = nullptr;
    for (const entry& e : table) {
        if (name == QLatin1String(e.name))
            found = &e;
    }
    if (!found)
        return fail(QStringLiteral("unknown command \"%1\"").arg(name));
    if (args.size() < found->minArgs || args.size() > found->maxArgs)
        return fail(QStringLiteral("wrong number of arguments for %1").arg(name));
    m_command = found->what;

    quint32 v = 0;
    if (m_command == command::Read) {
        if (!number(args[0], QR7215_FIRST_REGISTER, 0xFFFF, &v))
            return fail(QStringLiteral("START is a register number from %1 to 65535, not \"%2\"")
                            .arg(QR7215_FIRST_REGISTER).arg(args[0]));
        m_start = static_cast<quint16>(v);
        if (args.size() > 1) {
            if (!number(args[1], 1, 125, &v))
                return fail(QStringLiteral("COUNT is from 1 to 125, not \"%1\"").arg(args[1]));
            m_count = static_cast<int>(v);
        }
        if (m_start + m_count - 1 > 0xFFFF)
            return fail(QStringLiteral("the registers would run past 65535"));
    } else if (m_command == command::Write) {
        if (!number(args[0], QR7215_FIRST_REGISTER, 0xFFFF, &v))
            return fail(QStringLiteral("REGISTER is a register number from %1 to 65535, not \"%2\"")
                            .arg(QR7215_FIRST_REGISTER).arg(args[0]));
        m_register = static_cast<quint16>(v);
        m_valueText = args[1];
    }
    return true;
}
