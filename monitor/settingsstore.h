// The per-user store of the post-process script path and its policy. Every
// access opens and closes its own QSettings, so the GUI thread and the script
// runner's thread never share one.
#pragma once

#include <QString>

namespace settingsStore {

QString batPath();                  // empty when absent
quint32 batExecutePolicy();         // 0 when absent
void setBatPath(const QString& path);
void setBatExecutePolicy(quint32 policy);

} // namespace settingsStore
