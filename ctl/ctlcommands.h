// The commands of qr7215ctl on the program's own libraries: the device
// adapter opens the link and reads and writes, the status decoder decodes,
// the register table and its value checks decide what a write may send.
#pragma once

#include "ctloptions.h"
#include "statusdecoder.h"

#include <QObject>
#include <QString>
#include <QTextStream>

class ctlCommands : public QObject
{
    Q_OBJECT
public:
    ctlCommands(QTextStream& out, QTextStream& err, const QString& appDir);

    // Runs the command the options name and returns the exit code; watch
    // and monitor run the event loop until a termination signal.
    int run(const ctlOptions& options);

private:
    int status(const ctlOptions& o);
    int read(const ctlOptions& o);
    int write(const ctlOptions& o);
    int listPorts();
    int watch(const ctlOptions& o);
    int monitor(const ctlOptions& o);

    // Opens the link and returns 0, or says why not and returns the exit
    // code, or kStopped when a termination signal came first.
    static constexpr int kStopped = -1;
    int open(const ctlOptions& o);
    int readFailed(int result, quint16 start, int count);
    int fail(int code, const QString& why);

    QTextStream& m_out;
    QTextStream& m_err;
    QString m_appDir;
};
