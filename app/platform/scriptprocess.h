// The post-process script as a process: how a stored path becomes a program to
// start, and how a script is ended together with everything it started. On
// Linux the script gets a process group of its own so that one kill reaches
// its children too; on Windows the stored path has its "/" turned into "\".
#pragma once

#include <QProcess>
#include <QString>

namespace platform {

class scriptProcess : public QProcess
{
public:
    explicit scriptProcess(QObject* parent = nullptr);
    ~scriptProcess() override;

    // The stored script path in the form this system runs it by.
    static QString nativePath(const QString& storedPath);

    // How the script at path will be started, as one log line for the
    // operator who has just picked it: why it cannot be run, or which
    // program will run it. Empty when it is started as it is.
    static QString describe(const QString& path);

    // Starts the script at path with no arguments and waits until it runs.
    // False, with a short English reason, when nothing could be started:
    // "no such file", "a directory", "not executable and not a shell
    // script", "not readable", or the launcher's own error text.
    bool launch(const QString& path, QString* reason);

    // Ends the script and whatever it started, and waits until it is gone.
    void killAll();

protected:
    void setupChildProcess() override;
};

} // namespace platform
