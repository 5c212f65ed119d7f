// Runs a piece of a test in a forked child under conditions the test itself
// must not take on: as another user, with a limit on how large a file may
// grow (a full disk without a disk to fill), or with a limit on its time.
#pragma once

#include <QtGlobal>

#include <functional>

namespace testsupport {

// What a child run came to: the code fn returned, or one of these.
enum : int {
    kChildCrashed = -1,      // ended by a signal
    kChildNoSuchUser = -2,   // the user does not exist here
    kChildNotPermitted = -3  // could not become the user (not root)
};

// Runs fn in a child process as the user name (groups dropped); fn's result
// is the child's exit code.
int runAs(const char* name, const std::function<int()>& fn);

// Runs fn in a child process whose files may not grow past bytes
// (RLIMIT_FSIZE): a write beyond the limit fails with EFBIG, as a write to a
// full disk fails with ENOSPC, and takes what fits.
int runWithFileSizeLimit(qint64 bytes, const std::function<int()>& fn);

// Runs fn in a child process that SIGALRM ends after seconds (kChildCrashed):
// a save that waits where it must not comes back as a failure, not a hang.
int runWithTimeLimit(unsigned seconds, const std::function<int()>& fn);

// True when this process may become another user.
bool canChangeUser();

// ThreadSanitizer does not follow a child that starts threads after a fork
// of a process that has some (it ends such a child): tests whose child does
// run in the other builds only.
#if defined(__SANITIZE_THREAD__)
constexpr bool kChildMayStartThreads = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kChildMayStartThreads = false;
#else
constexpr bool kChildMayStartThreads = true;
#endif
#else
constexpr bool kChildMayStartThreads = true;
#endif

} // namespace testsupport
