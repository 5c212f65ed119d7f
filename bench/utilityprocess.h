// The real program as the benchmark runs it: a copy with its device library in
// a folder of its own, whose configs/config_com.xml makes it connect to the
// simulator by Auto Connect at start, with private XDG folders.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class utilityProcess
{
public:
    utilityProcess() = default;
    ~utilityProcess();

    bool start(const QString& port, unsigned baud, int pollMs);
    void stop();
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

private:
    bool install(const QString& port, unsigned baud, int pollMs);

    QTemporaryDir m_dir;
    QProcess m_process;
};
