// The three files the program rewrites while it runs (config_com.xml, the
// settings store, the autostart entry), each with two records to alternate
// between, saved through the program's own code, for the data-safety table.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class comSettings;

namespace saveRecords {

enum class target { com, settings, autostart };

// Record 'a' or 'b' of config_com.xml: every field apart from the defaults
// and from each other, the port name stretched by padding.
void fillCom(comSettings& s, char record, int padding);

// The file the target keeps under configDir (the application's "configs"
// folder for config_com.xml, XDG_CONFIG_HOME for the other two).
QString filePath(target t, const QString& configDir);

// Saves record 'a' or 'b' of the target under configDir. padding stretches
// the record's free text so a save takes several writes. False only where
// the program's own code reports a failure (config_com.xml); the other two
// are silent by design and are judged by the file alone.
bool save(target t, char record, const QString& configDir, int padding);

// Every complete document a run of alternating saves may leave, starting
// from record 'a': for the settings store the two keys are saved one after
// the other, so the mixes of the two records are complete documents too.
QList<QByteArray> validDocuments(target t, int padding);

// The document record 'a' or 'b' leaves when saved on its own into an
// empty folder (for the settings store: both keys of that record).
QByteArray documentOf(target t, char record, int padding);

// The file's bytes; empty when it is missing or unreadable.
QByteArray contents(const QString& path);

// Points XDG_CONFIG_HOME at a folder for as long as it lives.
class configHome
{
public:
    explicit configHome(const QString& dir);
    ~configHome();
    configHome(const configHome&) = delete;
    configHome& operator=(const configHome&) = delete;

private:
    QByteArray m_previous;
    bool m_hadPrevious;
};

} // namespace saveRecords
