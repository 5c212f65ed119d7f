// The module simulator as the benchmark runs it: a qr7215-sim process on a
// pseudo-terminal in a private folder, driven over its standard input.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class benchSimulator
{
public:
    benchSimulator();
    ~benchSimulator();

    // 0 baud: answers leave at once; otherwise they take their wire time.
    bool start(unsigned baud);
    void stop();

    QString linkPath() const;
    // One command, its one-line answer ("error: ..." when none came).
    QString command(const QString& line, int timeoutMs = 5000);
    // Sends a command without waiting; takeAnswer() collects its answer.
    void send(const QString& line);
    QString takeAnswer(int timeoutMs = 5000);
    // Intact requests the simulator has seen; -1 when it cannot say.
    long requests();

    static QString executable();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_pending;
};
