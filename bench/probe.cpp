#include "probe.h"

#include "link/frame.h"

#include "../tools/oven-sim/raw_pty.h"

#include <QDir>
#include <QFile>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace probe {

std::int64_t monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

int feedReading(std::size_t frame)
{
    const std::size_t phase = frame % 498;
    return 20 + int(phase < 250 ? phase : 498 - phase);
}

std::uint8_t feedByte(std::size_t i) { return frame::encode(feedReading(i / 3))[i % 3]; }

Pty::Pty()
{
    const std::optional<RawPty> pty = openRawPty(false);
    if (!pty)
        return;
    master = pty->master;
    slave = pty->slave;
    path = QString::fromStdString(pty->path);
}

Pty::~Pty()
{
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
}

namespace {

// One field of /proc/PID/task/*/schedstat for each thread: 0 is the run time
// in nanoseconds, 2 the number of times put on a processor.
std::map<QString, double> schedstatField(pid_t pid, qsizetype field)
{
    std::map<QString, double> perThread;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(t + QStringLiteral("/schedstat")));
        if (f.open(QIODevice::ReadOnly))
            perThread[t] = f.readAll().trimmed().split(' ').value(field).toDouble();
    }
    return perThread;
}

} // namespace

double processCpuSeconds(pid_t pid)
{
    if (!QDir(QStringLiteral("/proc/%1/task").arg(pid)).exists())
        return -1;
    double ns = 0;
    for (const auto &[thread, runNs] : schedstatField(pid, 0))
        ns += runNs;
    return ns / 1e9;
}

std::map<QString, double> threadRunSpells(pid_t pid) { return schedstatField(pid, 2); }

double runSpellsBetween(const std::map<QString, double> &before, const std::map<QString, double> &after)
{
    double spells = 0;
    for (const auto &[thread, count] : after) {
        const auto was = before.find(thread);
        spells += count - (was == before.end() ? 0 : was->second);
    }
    return spells;
}

double processTickSeconds(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which ends with the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

XServer::XServer()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1280x1024x24", "-nolisten",
               "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return;
    }
    m_pid = pid;
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    while (!number.endsWith('\n') && poll(&p, 1, 10'000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.trimmed().isEmpty())
        return;
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
}

XServer::~XServer()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

DamageWatch::DamageWatch(const QString &display, std::uint32_t window)
{
    auto *c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    m_conn = c;
    if (xcb_connection_has_error(c))
        return;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_damage_id);
    if (!ext || !ext->present)
        return;
    m_firstEvent = ext->first_event;
    free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    const xcb_damage_damage_t damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // the create has taken
    if (pipe(m_wake) != 0)
        return;
    m_hits.reserve(1 << 16);
    m_ok = true;
    m_thread = std::thread([this] { run(); });
}

DamageWatch::~DamageWatch()
{
    if (m_thread.joinable()) {
        (void)!write(m_wake[1], "x", 1);
        m_thread.join();
    }
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
    if (m_conn)
        xcb_disconnect(static_cast<xcb_connection_t *>(m_conn));
}

void DamageWatch::run()
{
    auto *c = static_cast<xcb_connection_t *>(m_conn);
    pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t *ev = xcb_poll_for_event(c)) {
            if ((ev->response_type & 0x7f) == m_firstEvent + XCB_DAMAGE_NOTIFY) {
                const auto *n = reinterpret_cast<xcb_damage_notify_event_t *>(ev);
                const std::int64_t at = monoNs();
                std::lock_guard lock(m_mutex);
                m_hits.push_back({at, QRect(n->area.x, n->area.y, n->area.width, n->area.height)});
            }
            free(ev);
        }
        if (xcb_connection_has_error(c))
            return;
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
            return;
    }
}

std::vector<std::int64_t> DamageWatch::hitsMeeting(const QRect &rect)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::int64_t> out;
    for (const Hit &h : m_hits)
        if (h.area.intersects(rect))
            out.push_back(h.at);
    return out;
}

std::vector<DamageWatch::Hit> DamageWatch::hitsSince(std::int64_t from)
{
    std::lock_guard lock(m_mutex);
    std::vector<Hit> out;
    for (const Hit &h : m_hits)
        if (h.at >= from)
            out.push_back(h);
    return out;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace probe
