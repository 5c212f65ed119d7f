// The real program as the benchmark runs it: a copy with its device library in
// a folder of its own, whose configs/config_com.xml makes it connect to the
// simulator by Auto Connect at start, with private XDG folders.
//
// The same folder can run the benchmark's own window child instead: the
// program's main window and start sequence, with a step an operator would
// take (a tab made current, Connect pressed) that nothing outside the process
// can take on a headless display.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What configs/config_com.xml holds.
struct utilityRecord
{
    QString port;
    unsigned baud = 115200;
    int pollMs = 10;
    int timeoutMs = 1000;
    int retries = 3;
    bool autoConnect = true;
};

class utilityProcess
{
public:
    utilityProcess() = default;
    ~utilityProcess();

    bool start(const QString& port, unsigned baud, int pollMs);
    // The benchmark's window child (see windowChild()) with `args`.
    bool startWindowChild(const utilityRecord& record, const QStringList& args);
    void stop();
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QString folder() const { return m_dir.path(); }
    // The next line the child printed, "" when none came within timeoutMs.
    QString takeLine(int timeoutMs);
    // Waits for the child to end by itself; false when it did not.
    bool waitForExit(int timeoutMs);

private:
    bool install(const QString& program, const utilityRecord& record);
    bool run(const QString& program, const QStringList& args);

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_pending;
};
