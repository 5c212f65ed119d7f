// qr7215-sim: a QR-7215 module on a pseudo-terminal, for tests and for trying
// the utility without hardware.
//
//   qr7215-sim --link PATH [--slave N] [--baud B]
//
// Serves Modbus RTU on the pseudo-terminal that PATH links to and takes
// operator commands on standard input, one a line, each answered by one line
// on standard output. It prints "ready PATH" once it serves, and ends on
// "quit", at the end of standard input, or on SIGTERM/SIGINT/SIGHUP.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "pseudoterminal.h"
#include "simulatorcore.h"

using namespace qr7215sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

struct options {
    std::string link;
    long slave = 1;
    long baud = 0;
};

bool parseLong(const char* text, long low, long high, long& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    out = v;
    return true;
}

int usage(const char* why)
{
    std::fprintf(stderr, "qr7215-sim: %s\nusage: qr7215-sim --link PATH [--slave 1..247] [--baud B]\n", why);
    return 2;
}

void say(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void sendAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Nobody drains the line (no client, or it stopped reading): the
            // answer is lost, as it would be on a wire nobody listens to.
            return;
        }
    }
}

// Time to the core's next due answer, or null to wait for input alone. With
// nanoseconds, a held-back answer leaves on time instead of up to a
// millisecond late, which would show in every timing taken against it.
const timespec* pollTimeout(const simulatorCore& core, timespec& storage)
{
    const auto wake = core.nextWake();
    if (!wake)
        return nullptr;
    const auto left = std::max(simulatorCore::clock::duration::zero(), *wake - simulatorCore::clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    storage.tv_sec = static_cast<time_t>(ns / 1000000000);
    storage.tv_nsec = static_cast<long>(ns % 1000000000);
    return &storage;
}

} // namespace

int main(int argc, char** argv)
{
    options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage(("missing value after " + arg).c_str());
        const char* value = argv[++i];
        if (arg == "--link")
            opt.link = value;
        else if (arg == "--slave") {
            if (!parseLong(value, 1, 247, opt.slave))
                return usage("--slave takes 1..247");
        } else if (arg == "--baud") {
            if (!parseLong(value, 1, 10000000, opt.baud))
                return usage("--baud takes a positive number");
        } else {
            return usage(("unknown option " + arg).c_str());
        }
    }
    if (opt.link.empty())
        return usage("--link PATH is required");

    struct sigaction sa{};
    sa.sa_handler = onSignal;  // no SA_RESTART: poll() returns to see the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    pseudoTerminal pty;
    std::string error;
    if (!pty.open(error) || !pty.makeLink(opt.link, error)) {
        std::fprintf(stderr, "qr7215-sim: %s\n", error.c_str());
        return 1;
    }

    simulatorCore core(static_cast<uint8_t>(opt.slave), static_cast<unsigned>(opt.baud));
    say("ready " + opt.link);

    std::string input;
    bool inputOpen = true;
    bool quit = false;
    while (!quit && inputOpen && !g_stop) {
        pollfd fds[2] = {{pty.masterFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        timespec timeout{};
        const int rc = ::ppoll(fds, 2, pollTimeout(core, timeout), nullptr);
        if (rc < 0 && errno != EINTR) {
            std::fprintf(stderr, "qr7215-sim: ppoll: %s\n", std::strerror(errno));
            break;
        }
        const auto now = simulatorCore::clock::now();
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            uint8_t buffer[512];
            const ssize_t n = ::read(pty.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                core.receive(buffer, static_cast<size_t>(n), now);
        }
        // Requests that came in are handled before the commands read below,
        // so that "requests" counts everything sent before it was asked.
        sendAll(pty.masterFd(), core.poll(now));
        if (rc > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buffer[512];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0)
                input.append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                inputOpen = false;
            size_t nl;
            while (!quit && (nl = input.find('\n')) != std::string::npos) {
                std::string line = input.substr(0, nl);
                input.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                say(core.command(line, now, quit));
            }
            // A last line without its newline still counts.
            if (!inputOpen && !quit && !input.empty())
                say(core.command(input, now, quit));
        }
        sendAll(pty.masterFd(), core.poll(simulatorCore::clock::now()));
    }
    pty.removeLink();
    return 0;
}
