// oven-sim: the oven's controller on the other end of a serial line, for
// training, demonstrations and tests without an oven.
#include "oven_model.h"
#include "raw_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void usage()
{
    std::fprintf(stderr, "usage: oven-sim [options]\n"
                         "  --device PATH        use this serial device instead of a pseudo-terminal\n"
                         "  --link PATH          also make PATH a symbolic link to the pseudo-terminal\n"
                         "  --profile a,b,c,d,e,f  the six slot bytes the controller starts with\n"
                         "                       (default 150,60,130,90,120,40)\n"
                         "  --rate N             reading frames per second (default 1)\n"
                         "  --time-factor F      simulated oven seconds per real second (default 1);\n"
                         "                       a sped-up oven still heats and cools at no more than\n"
                         "                       8 degrees a real second, which the program passes\n"
                         "  --noise D            degrees of noise on each reading (default 1)\n"
                         "  --seed N             noise seed (default 1)\n"
                         "  --spike-at S         one reading 60 degrees off at oven second S\n"
                         "  --over400-at S       one reading of 450 at oven second S\n"
                         "  --lose-byte-at S     a frame at oven second S loses its low byte\n"
                         "  --burst-at S[:N]     N bytes of frames at once at oven second S (N 3000)\n"
                         "  --silent             answer nothing and send nothing\n"
                         "  --unplug-at S[:D]    pull the cable S real seconds after the start and put\n"
                         "                       it back D seconds later (D 5): the pseudo-terminal\n"
                         "                       goes away and a new one takes its place, under --link\n"
                         "  --log                log every byte both ways on standard error\n"
                         "  --version            print the version\n");
}

double now()
{
    using namespace std::chrono;
    static const auto start = steady_clock::now();
    return duration<double>(steady_clock::now() - start).count();
}

bool parseProfile(const char *text, std::array<std::uint8_t, 6> &out)
{
    int v[6];
    if (std::sscanf(text, "%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (v[i] < 0 || v[i] > 255)
            return false;
        out[std::size_t(i)] = std::uint8_t(v[i]);
    }
    return true;
}

bool configureDevice(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B2400);
    cfsetospeed(&tio, B2400);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~tcflag_t(PARENB | CSTOPB | CSIZE);
    tio.c_cflag |= CS8;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void writeAll(int fd, const std::vector<std::uint8_t> &bytes, bool log)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
    if (log)
        for (std::uint8_t b : bytes)
            std::fprintf(stderr, "%10.3f -> %02x\n", now(), b);
}

// A new pseudo-terminal, made raw, its path printed and linked where asked.
bool plugIn(int &fd, int &keepSlave, const std::string &link)
{
    const std::optional<RawPty> pty = openRawPty(true);
    if (!pty) {
        std::fprintf(stderr, "oven-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    fd = pty->master;
    keepSlave = pty->slave;
    const char *name = pty->path.c_str();
    configureDevice(fd); // the line's own speed and framing on top of raw
    // Our own hold on the other end keeps the line up while the program
    // closes and reopens its port.
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0)
            std::fprintf(stderr, "oven-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
    }
    std::printf("PTY %s\n", name);
    std::fflush(stdout);
    return true;
}

// The cable is pulled: the program's end hangs up and the device goes away.
void unplug(int &fd, int &keepSlave, const std::string &link)
{
    if (!link.empty())
        ::unlink(link.c_str());
    if (keepSlave >= 0)
        ::close(keepSlave);
    ::close(fd);
    fd = keepSlave = -1;
}

} // namespace

int main(int argc, char *argv[])
{
    sim::Options options;
    std::string device;
    std::string link;
    bool log = false;
    double unplugAt = -1;
    double unplugFor = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--device")
            device = value();
        else if (a == "--link")
            link = value();
        else if (a == "--profile") {
            if (!parseProfile(value(), options.profile)) {
                std::fprintf(stderr, "oven-sim: --profile takes six bytes 0..255\n");
                return 2;
            }
        } else if (a == "--rate")
            options.framesPerSecond = std::max(0.01, std::atof(value()));
        else if (a == "--time-factor")
            options.timeFactor = std::max(0.0, std::atof(value()));
        else if (a == "--noise")
            options.noise = std::max(0.0, std::atof(value()));
        else if (a == "--seed")
            options.seed = std::uint32_t(std::strtoul(value(), nullptr, 10));
        else if (a == "--spike-at")
            options.faults.spikeAt = std::atof(value());
        else if (a == "--over400-at")
            options.faults.over400At = std::atof(value());
        else if (a == "--lose-byte-at")
            options.faults.loseByteAt = std::atof(value());
        else if (a == "--burst-at") {
            const std::string v = value();
            options.faults.burstAt = std::atof(v.c_str());
            const auto colon = v.find(':');
            if (colon != std::string::npos)
                options.faults.burstBytes = std::max(3, std::atoi(v.c_str() + colon + 1));
        } else if (a == "--unplug-at") {
            const std::string v = value();
            unplugAt = std::atof(v.c_str());
            const auto colon = v.find(':');
            if (colon != std::string::npos)
                unplugFor = std::max(0.0, std::atof(v.c_str() + colon + 1));
        } else if (a == "--silent")
            options.faults.silent = true;
        else if (a == "--log")
            log = true;
        else if (a == "--version") {
            std::puts("oven-sim " ORVALEN_VERSION);
            return 0;
        } else {
            usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    prctl(PR_SET_PDEATHSIG, SIGTERM); // goes when whoever started it goes
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    signal(SIGPIPE, SIG_IGN);

    int fd = -1;
    int keepSlave = -1;
    if (!device.empty()) {
        fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || !configureDevice(fd)) {
            std::fprintf(stderr, "oven-sim: cannot use %s: %s\n", device.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("DEVICE %s\n", device.c_str());
    } else if (!plugIn(fd, keepSlave, link)) {
        return 1;
    }
    std::fflush(stdout);

    sim::Controller controller(options);
    std::uint8_t buf[4096];
    while (!g_stop) {
        if (unplugAt >= 0 && device.empty() && fd >= 0 && now() >= unplugAt) {
            std::fprintf(stderr, "oven-sim: cable pulled for %g s\n", unplugFor);
            unplug(fd, keepSlave, link);
        }
        if (fd < 0) {
            // The oven runs on while the cable is out; what it sends is lost.
            (void)controller.due(now());
            if (now() < unplugAt + unplugFor) {
                ::usleep(50000);
                continue;
            }
            unplugAt = -1;
            if (!plugIn(fd, keepSlave, link))
                return 1;
            std::fprintf(stderr, "oven-sim: cable back\n");
        }
        const double next = controller.nextDue();
        int timeout = 500;
        if (next >= 0)
            timeout = std::clamp(int(std::ceil((next - now()) * 1000)), 0, 500);
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout);
        if (ready > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (log)
                    std::fprintf(stderr, "%10.3f <- %02x\n", now(), buf[i]);
                writeAll(fd, controller.receive(buf[i], now()), log);
            }
        } else if (ready > 0 && (p.revents & (POLLHUP | POLLERR))) {
            ::usleep(20000); // nobody on the other end yet
        }
        writeAll(fd, controller.due(now()), log);
    }
    if (!link.empty())
        ::unlink(link.c_str());
    if (keepSlave >= 0)
        ::close(keepSlave);
    ::close(fd);
    return 0;
}
