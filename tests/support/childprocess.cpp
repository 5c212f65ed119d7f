#include "childprocess.h"

#include <csignal>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

int inChild(const std::function<int()>& setup, const std::function<int()>& fn)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return kChildCrashed;
    if (pid == 0) {
        const int ready = setup();
        ::_exit(ready != 0 ? ready & 0xff : fn() & 0xff);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status))
        return kChildCrashed;
    const int code = WEXITSTATUS(status);
    // Exit codes are one byte: the negative outcomes come back as 253..255.
    return code > 250 ? code - 256 : code;
}

} // namespace

bool canChangeUser()
{
    return ::geteuid() == 0;
}

int runAs(const char* name, const std::function<int()>& fn)
{
    const passwd* user = ::getpwnam(name);
    if (!user)
        return kChildNoSuchUser;
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    return inChild(
        [uid, gid]() -> int {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                return kChildNotPermitted;
            return 0;
        },
        fn);
}

int runWithFileSizeLimit(qint64 bytes, const std::function<int()>& fn)
{
    return inChild(
        [bytes]() -> int {
            // Without this the first write past the limit kills the child.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? 0 : int(kChildNotPermitted);
        },
        fn);
}

int runWithTimeLimit(unsigned seconds, const std::function<int()>& fn)
{
    return inChild(
        [seconds]() -> int {
            ::alarm(seconds);
            return 0;
        },
        fn);
}

} // namespace testsupport
