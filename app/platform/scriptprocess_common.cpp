// What starting a post-process script means on every platform; how it is
// started and killed is in the _linux and _win halves.
#include "scriptprocess.h"

namespace platform {

scriptProcess::scriptProcess(QObject* parent)
    : QProcess(parent)
{
    // Output and errors in one channel, in the order the script wrote them,
    // for the log; the runner reads it as it comes. Standard input stays a
    // pipe that is never written, as the script has always been started.
    setProcessChannelMode(QProcess::MergedChannels);
}

scriptProcess::~scriptProcess()
{
    if (state() != QProcess::NotRunning)
        killAll();
}

} // namespace platform
