// The per-user store of the post-process script path, its policy and the
// settings of the power-event actions. Every
// access opens and closes its own QSettings, so the GUI thread and the script
// runner's thread never share one.
#pragma once

#include <QString>

namespace settingsStore {

QString batPath();                  // empty when absent
quint32 batExecutePolicy();         // 0 when absent
void setBatPath(const QString& path);
void setBatExecutePolicy(quint32 policy);

// What happens around a power event. Each defaults to what the program did
// before these settings existed: the script at once, no thresholds, nothing
// when DC returns, and desktop notifications on.
constexpr int kMaxBatDelay = 3600;
int batDelay();                     // seconds, 0..kMaxBatDelay; 0 when absent
int batLowLevel();                  // percent, 0..100; 0 (off) when absent
int batLowRuntime();                // minutes, 0..65535; 0 (off) when absent
bool batOnRestore();                // false when absent
bool notify();                      // true when absent
void setBatDelay(int seconds);
void setBatLowLevel(int percent);
void setBatLowRuntime(int minutes);
void setBatOnRestore(bool on);
void setNotify(bool on);

// The NUT data file (dummy-ups) the program writes while it watches: off
// and no path when absent.
bool nutFeed();
QString nutFilePath();
void setNutFeed(bool on);
void setNutFilePath(const QString& path);

} // namespace settingsStore
