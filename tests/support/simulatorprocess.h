// Runs qr7215-sim on a pseudo-terminal for a test or the benchmark and talks
// to it over its standard input: one command a line, one answer a line.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class SimulatorProcess
{
public:
    SimulatorProcess();
    ~SimulatorProcess();

    // Starts the simulator with its link in a fresh temporary folder and waits
    // for "ready". Extra arguments go on its command line (--slave, --baud).
    bool start(const QStringList& extraArgs = {});
    // With the simulator's wire emulation at baud (0: answers leave at once).
    bool start(unsigned baud);
    // Sends "quit" and waits for the process to end (kills it after 5 s).
    void stop();
    // Kills the process without letting it clean up.
    void kill();

    bool isRunning() const;
    // Path of the symbolic link to the pseudo-terminal the simulator serves.
    QString linkPath() const { return m_link; }
    // Sends one command and returns the answer line ("ok", a value, "error: ...").
    QString command(const QString& line, int timeoutMs = 5000);
    // Sends a command without waiting; takeAnswer() collects its answer.
    void send(const QString& line);
    QString takeAnswer(int timeoutMs = 5000);
    // Convenience: "set REG VALUE" / "get REG".
    bool set(int reg, int value);
    int get(int reg);
    // Intact requests the simulator has seen, and answers it still holds
    // back (a slow line or a delay fault); -1 when it cannot say.
    long requests();
    long pending();

    // QR7215_SIM_PATH, or what QR7215_BENCH_SIM names (another build of the
    // simulator to take the benchmark's figures against).
    static QString executable();

private:
    QProcess m_process;
    QString m_dir;
    QString m_link;
    QByteArray m_pending;
};
