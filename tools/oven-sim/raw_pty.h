#pragma once

// A pseudo-terminal pair whose controller's end passes bytes as they are, as a
// serial line does. Plain POSIX, so that the simulator, the bench and the
// tests' pty peer set up their pairs in one way.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>

struct RawPty
{
    int master = -1; // the controller's end
    int slave = -1; // the program's end, held so that the pair outlives its opens
    std::string path; // the program's end by name
};

// Opens a pair with the master in raw mode; with nonBlocking, the master's
// reads and writes never wait. Nothing when the system gives no pair (errno
// says why).
[[nodiscard]] inline std::optional<RawPty> openRawPty(bool nonBlocking)
{
    RawPty pty;
    char name[256] = {};
    if (openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0)
        return std::nullopt;
    termios tio{};
    tcgetattr(pty.master, &tio);
    cfmakeraw(&tio);
    tcsetattr(pty.master, TCSANOW, &tio);
    if (nonBlocking)
        fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    pty.path = name;
    return pty;
}
