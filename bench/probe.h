#pragma once

// What the benchmark measures with from outside the measured process: the
// clock, the controller's feed, a pseudo-terminal, processor time of a whole
// process, a virtual X server of its own and the damage it reports.
#include <QRect>
#include <QString>

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace probe {

[[nodiscard]] std::int64_t monoNs();

// Reading of the feed's frame f: a triangle 20..269..20 in steps of 1 ℃, so
// every frame changes the readout and the spike filter never holds a value.
[[nodiscard]] int feedReading(std::size_t frame);
// Byte i of the feed: high, low, check byte (high + low).
[[nodiscard]] std::uint8_t feedByte(std::size_t i);

struct Pty
{
    Pty();
    ~Pty();
    int master = -1;
    int slave = -1;
    QString path;
};

// Processor time of every thread of a process so far, in seconds, from the
// kernel's per-thread run times (nanoseconds). Negative when it is gone.
[[nodiscard]] double processCpuSeconds(pid_t pid);
// How many times each thread of a process was put on a processor so far
// (each wake-up is one): machine-independent where processor time is not.
[[nodiscard]] std::map<QString, double> threadRunSpells(pid_t pid);
// The run spells from `before` to `after`, over the threads alive at the end.
[[nodiscard]] double runSpellsBetween(const std::map<QString, double> &before,
                                      const std::map<QString, double> &after);
// The same from utime + stime (clock ticks; includes threads that ended).
[[nodiscard]] double processTickSeconds(pid_t pid);
// Processor time of the calling thread.
[[nodiscard]] double threadCpuSeconds();

// An Xvfb started for the benchmark alone.
class XServer
{
public:
    XServer();
    ~XServer();
    [[nodiscard]] bool running() const { return m_pid > 0 && !m_display.isEmpty(); }
    [[nodiscard]] QString display() const { return m_display; }
    [[nodiscard]] pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    QString m_display;
};

// Damage the X server reports on one window, each with the moment it was
// received, gathered on a thread of its own.
class DamageWatch
{
public:
    struct Hit
    {
        std::int64_t at;
        QRect area;
    };
    DamageWatch(const QString &display, std::uint32_t window);
    ~DamageWatch();
    [[nodiscard]] bool ok() const { return m_ok; }
    // Hits so far whose area meets rect, in order.
    [[nodiscard]] std::vector<std::int64_t> hitsMeeting(const QRect &rect);
    // All hits from the given moment on.
    [[nodiscard]] std::vector<Hit> hitsSince(std::int64_t from);

private:
    void run();
    void *m_conn = nullptr;
    int m_firstEvent = 0;
    bool m_ok = false;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Hit> m_hits;
};

[[nodiscard]] double percentile(std::vector<double> v, double p);

} // namespace probe
