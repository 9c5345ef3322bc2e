// The measured processes, each started by the benchmark as a child of its
// own: the operator program with its real window, and the two floors (a bare
// window showing each frame in a field, a minimal reader of the same line).
//
// Each prints "ready WINDOW X Y W H" (the window and its temperature field in
// window pixels; zeros without a window) once it can be measured, and on the
// line "dump" from its standard input prints what it logged and ends:
//   R <ns> <text>   the temperature field took a new text (the reading)
//   P <ns>          the temperature field was painted
#include "subjects.h"

#include "probe.h"
#include "state/context.h"
#include "state/profile.h"
#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using probe::monoNs;

struct Log
{
    Log()
    {
        readings.reserve(1 << 18);
        paints.reserve(1 << 16);
    }
    std::vector<std::pair<std::int64_t, QString>> readings;
    std::vector<std::int64_t> paints;

    [[noreturn]] void dump() const
    {
        for (const auto &[at, text] : readings)
            std::printf("R %lld %s\n", static_cast<long long>(at), qPrintable(text));
        for (std::int64_t at : paints)
            std::printf("P %lld\n", static_cast<long long>(at));
        std::printf("end\n");
        std::fflush(stdout);
        std::_Exit(0);
    }
};

// Logs a field's paints, and its new texts where it is the field that holds
// them.
class FieldWatch : public QObject
{
public:
    FieldWatch(QLineEdit *field, Log &log, bool texts) : m_log(log)
    {
        field->installEventFilter(this);
        if (texts)
            QObject::connect(field, &QLineEdit::textChanged,
                             [this](const QString &t) { m_log.readings.emplace_back(monoNs(), t); });
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            m_log.paints.push_back(monoNs());
        return false;
    }

private:
    Log &m_log;
};

// Says "ready" a little after the window's first paint, then runs start.
class Readiness : public QObject
{
public:
    Readiness(QWidget *window, QLineEdit *field, std::function<void()> start)
        : m_window(window), m_field(field), m_start(std::move(start))
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(300, this, [this] {
                const QRect r(m_field->mapTo(m_window, QPoint(0, 0)), m_field->size());
                std::printf("ready %llu %d %d %d %d\n", static_cast<unsigned long long>(m_window->winId()),
                            r.x(), r.y(), r.width(), r.height());
                std::fflush(stdout);
                if (m_start)
                    QTimer::singleShot(300, m_start);
            });
        }
        return false;
    }

private:
    QWidget *m_window;
    QLineEdit *m_field;
    std::function<void()> m_start;
    bool m_seen = false;
};

// Ends the process with its log when the benchmark says "dump".
void dumpOnRequest(const Log &log)
{
    auto *notifier = new QSocketNotifier(0, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [&log] {
        char buf[64];
        (void)!read(0, buf, sizeof buf); // "dump", or the benchmark has gone
        log.dump();
    });
}

int openRaw(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Frames from bytes, counted from the first byte as the program counts them.
struct Framer
{
    int position = 0;
    int reading = 0;
    // True when b completes a frame.
    bool take(unsigned char b)
    {
        switch (position) {
        case 0: reading = 256 * b; break;
        case 1: reading += b; break;
        default: position = 0; return true;
        }
        ++position;
        return false;
    }
};

} // namespace

int runProgramSubject(const QString &port, const QString &what)
{
    static Log log;
    Program::Options options;
    options.port1 = port;
    options.port2 = QStringLiteral("/dev/null-port2");
    options.pdfReport = QStringLiteral("/dev/null");
    // The same run without its journal, to measure what keeping it costs.
    options.journal = what != u"run-no-journal";
    Program program(options);
    auto *field = program.form().findChild<QLineEdit *>(QStringLiteral("Text7"));
    if (!field)
        return 1;
    // The window's change handling, as the program wires it, noting each new
    // reading as the monitor sets it (just before it stores it in samples).
    Context &c = program.context();
    program.form().setFieldChanged([&c](int f) {
        if (f == int(Form::Field::Text7)) {
            const QString t = c.services.form.text(Form::Field::Text7);
            if (log.readings.empty() || log.readings.back().second != t)
                log.readings.emplace_back(monoNs(), t);
        }
        profileFieldChanged(c, f);
    });
    FieldWatch watch(field, log, false);
    dumpOnRequest(log);
    QString action = what.startsWith(u"run") ? QStringLiteral("from8031")
                     : what == u"silent"     ? QStringLiteral("getcanshu")
                                             : QString();
    Readiness ready(&program.form(), field, [&program, action] {
        // The operator's menu choice, as the menu delivers it.
        if (auto *a = program.form().findChild<QAction *>(action))
            a->trigger();
    });
    program.show();
    return qApp->exec();
}

int runWindowFloor(const QString &port)
{
    static Log log;
    const int fd = openRaw(port);
    if (fd < 0)
        return 1;
    QWidget window;
    auto *field = new QLineEdit(&window);
    field->setObjectName(QStringLiteral("Text7"));
    field->setAlignment(Qt::AlignCenter);
    (new QVBoxLayout(&window))->addWidget(field);
    window.resize(200, 60);
    FieldWatch watch(field, log, true);
    dumpOnRequest(log);
    Readiness ready(&window, field, {});
    Framer framer;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        unsigned char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                if (framer.take(buf[i]))
                    field->setText(QString::number(framer.reading));
    });
    window.show();
    return qApp->exec();
}

int runReaderFloor(const QString &port)
{
    const int fd = openRaw(port);
    if (fd < 0)
        return 1;
    std::vector<std::pair<std::int64_t, int>> readings;
    readings.reserve(1 << 18);
    std::printf("ready 0 0 0 0 0\n");
    std::fflush(stdout);
    Framer framer;
    pollfd fds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            break;
        unsigned char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                if (framer.take(buf[i]))
                    readings.emplace_back(monoNs(), framer.reading);
    }
    for (const auto &[at, value] : readings)
        std::printf("R %lld %d\n", static_cast<long long>(at), value);
    std::printf("end\n");
    std::fflush(stdout);
    return 0;
}
