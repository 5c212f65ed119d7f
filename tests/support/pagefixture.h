// Shared by the connection page tests: where the page keeps its file, how to
// reach its controls by name, and a pseudo-terminal to stand in for a port.
#pragma once

#include "comsettingswidget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

namespace pagefixture {

QString configDir();
QString configFile();
QString autostartEntry();
QByteArray readAll(const QString& path);

// Writes configs/config_com.xml with the given elements inside one Setting.
bool writeConfig(const QByteArray& settingsBody);
// "Name=text" for every field element of the file on disk, in document order.
QStringList fileFields();
QString fileField(const QString& name);

// Fresh start for each test: no file, no start-up entry, fake reset, adapter closed.
void reset();
void disconnectAdapter();

template <typename T>
T* control(comSettingsWidget& page, const char* name)
{
    T* c = page.findChild<T*>(QLatin1String(name));
    if (!c)
        qWarning("no control %s", name);
    return c;
}

// The controls of rows 1 to 10 and the three options, by object name.
extern const char* const kLineSettings[10];
extern const char* const kOptions[3];
bool lineSettingsEnabled(comSettingsWidget& page, bool enabled);

// A pseudo-terminal reached through a link in a temporary folder, as the
// simulator offers its end of the line. link() is empty when none could be made.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    QString link() const { return m_link; }

private:
    int m_master = -1;
    QTemporaryDir m_dir;
    QString m_link;
};

} // namespace pagefixture
