// Start-up registration on Linux desktops: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/<name>.desktop whose Exec names the executable.
#include "autostart.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>

namespace platform {
namespace {

QString entryPath(const std::string& name)
{
    // GenericConfigLocation honours XDG_CONFIG_HOME and falls back to ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/") + QString::fromStdString(name) + QStringLiteral(".desktop");
}

// Escapes of a string value in a desktop entry: these are undone by the
// reader before anything else, quoting included.
QString escapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c; break;
        }
    }
    return out;
}

// The program as one Exec argument: always double-quoted, so blanks and the
// shell's reserved characters are safe; inside the quotes ", `, $ and \ take
// a backslash, and % is doubled so no field code is expanded.
QString execValue(const QString& executable)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : executable) {
        switch (c.unicode()) {
        case '"':
        case '`':
        case '$':
        case '\\':
            quoted += QLatin1Char('\\');
            quoted += c;
            break;
        case '%': quoted += QLatin1String("%%"); break;
        default: quoted += c; break;
        }
    }
    quoted += QLatin1Char('"');
    return escapeValue(quoted);
}

// The Exec value of the main group as it stands in the file, or a null
// string when the file or the key is missing.
QString storedExec(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.leftRef(eq).trimmed() == QLatin1String("Exec"))
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

bool fail(std::string* reason, const QString& why)
{
    if (reason)
        *reason = why.toStdString();
    return false;
}

bool writeEntry(const QString& path, const std::string& name, const QString& exec, std::string* reason)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(reason, QStringLiteral("cannot create the folder"));
    const QString title = escapeValue(QString::fromStdString(name));
    QString text;
    text += QLatin1String("[Desktop Entry]\n");
    text += QLatin1String("Type=Application\n");
    text += QLatin1String("Version=1.0\n");
    text += QLatin1String("Name=") + title + QLatin1Char('\n');
    text += QLatin1String("Comment=Starts ") + title + QLatin1String(" at log-on\n");
    text += QLatin1String("Exec=") + exec + QLatin1Char('\n');
    text += QLatin1String("Terminal=false\n");
    text += QLatin1String("X-GNOME-Autostart-enabled=true\n");

    // A crash halfway must not leave a half-written entry the session would
    // run. Unbuffered, so a write a full disk cuts short shows in its count:
    // Qt 5's QSaveFile would otherwise commit the short file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(reason, file.errorString());
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(reason, why);
    }
    if (!file.commit())
        return fail(reason, file.errorString());
    return true;
}

} // namespace

std::string currentExecutablePath()
{
    // The kernel's own record of the running image, links resolved. A program
    // whose file was replaced while it runs gets an empty path.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
}

std::string autoStartEntry(const std::string& name)
{
    return entryPath(name).toStdString();
}

bool registerAutoStart(const std::string& name, std::string* reason)
{
    return registerAutoStart(name, currentExecutablePath(), reason);
}

bool registerAutoStart(const std::string& name, const std::string& executablePath, std::string* reason)
{
    if (name.empty() || executablePath.empty())
        return fail(reason, QStringLiteral("the path of the program is not known"));
    const QString path = entryPath(name);
    const QString exec = execValue(QString::fromStdString(executablePath));
    // Leave an entry that already starts this executable alone, as a stored
    // Run value is left alone.
    if (storedExec(path) == exec)
        return true;
    return writeEntry(path, name, exec, reason);
}

bool unregisterAutoStart(const std::string& name, std::string* reason)
{
    return unregisterAutoStart(name, currentExecutablePath(), reason);
}

bool unregisterAutoStart(const std::string& name, const std::string& executablePath, std::string* reason)
{
    if (name.empty() || executablePath.empty())
        return true;
    const QString path = entryPath(name);
    if (!QFileInfo(path).isFile() || storedExec(path) != execValue(QString::fromStdString(executablePath)))
        return true;
    QFile file(path);
    if (!file.remove())
        return fail(reason, file.errorString());
    return true;
}

} // namespace platform
