#include "portholder.h"

namespace platform {

QString portHolderText(const QString& name)
{
    const qint64 pid = portHolder(name);
    if (pid == 0)
        return QString();
    const QString program = processName(pid);
    QString text = QStringLiteral("port held by process %1").arg(pid);
    if (!program.isEmpty())
        text += QStringLiteral(" (%1)").arg(program);
    return text;
}

} // namespace platform
