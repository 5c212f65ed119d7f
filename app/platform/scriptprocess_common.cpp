// What starting a post-process script means on every platform; how it is
// started and killed is in the _linux and _win halves.
#include "scriptprocess.h"

namespace platform {

scriptProcess::scriptProcess(QObject* parent)
    : QProcess(parent)
{
    // Nothing reads the script's output: sending it nowhere keeps a chatty
    // script from filling memory, and a child that inherits the channels
    // cannot hold a pipe of ours open. Standard input stays a pipe that is
    // never written, as the script has always been started.
    setStandardOutputFile(QProcess::nullDevice());
    setStandardErrorFile(QProcess::nullDevice());
}

scriptProcess::~scriptProcess()
{
    if (state() != QProcess::NotRunning)
        killAll();
}

} // namespace platform
