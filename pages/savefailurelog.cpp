#include "savefailurelog.h"

#include "consoleprint.h"

#include <QSet>

#include <mutex>

namespace saveFailureLog {
namespace {

std::mutex g_mutex;
// Files whose last save failed and has been told.
QSet<QString> g_failing;

} // namespace

void saved(const QString& file, bool ok, const QString& reason)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (ok) {
            g_failing.remove(file);
            return;
        }
        if (g_failing.contains(file))
            return;
        g_failing.insert(file);
    }
    const QString why = reason.isEmpty() ? QStringLiteral("unknown error") : reason;
    g_consolePrint.showMsg(QStringLiteral("Settings could not be saved to %1: %2.")
                               .arg(file, why));
}

} // namespace saveFailureLog
