#include "print_server.h"

#include "test_files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QThread>

#include <cups/cups.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::pair<int, int> loopbackSocket(bool listening)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && (!listening || ::listen(fd, 16) == 0)
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    return {fd, port};
}

namespace {

// Everything is allowed to everyone, since only the test can reach it.
const char kPolicy[] = "ServerName 127.0.0.1\nLogLevel info\nBrowsing No\nBrowseLocalProtocols none\n"
                       "WebInterface No\nDefaultAuthType None\nPreserveJobFiles Yes\n"
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

// Raw queues: the scheduler keeps the page as it came, no filters needed.
const char kPrinters[] =
        "<DefaultPrinter refusing>\nDeviceURI file:/dev/null\nState Idle\n"
        "StateMessage Out of paper, come back later\nAccepting No\nShared No\n</DefaultPrinter>\n"
        "<Printer accepting>\nDeviceURI file:/dev/null\nState Idle\nAccepting Yes\nShared No\n"
        "</Printer>\n<Printer stopped>\nDeviceURI file:/dev/null\nState Stopped\n"
        "StateMessage Paused by the test\nAccepting Yes\nShared No\n</Printer>\n"
        "<Printer slow>\nDeviceURI slow:/\nState Idle\nAccepting Yes\nShared No\n</Printer>\n"
        "<Printer jamming>\nDeviceURI jam:/\nState Idle\nErrorPolicy abort-job\nAccepting Yes\n"
        "Shared No\n</Printer>\n";

// Up once it lists the (empty) queue of a printer; refused until it listens.
bool serverAnswers()
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "accepting", 0, CUPS_WHICHJOBS_ALL);
    cupsFreeJobs(count, jobs);
    return count == 0 && cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

} // namespace

QString PrintServer::start()
{
    const QString cupsd = QStandardPaths::findExecutable(
            QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (cupsd.isEmpty())
        return QStringLiteral(
                "no print server to test against: cupsd (Debian's cups-daemon) is not installed");
    const auto [probe, port] = loopbackSocket(false); // a port nothing listens on just now
    ::close(probe);
    if (!m_dir.isValid() || port == 0)
        return QStringLiteral("no private folder or no free port on 127.0.0.1 for a print server");
    const QByteArray server = "127.0.0.1:" + QByteArray::number(port);
    const QString root = m_dir.path();
    auto path = [&root](const char *name) { return root + u'/' + QLatin1String(name); };
    bool ok = true;
    for (const char *sub : {"conf", "spool", "state", "cache", "log", "bin/backend"})
        ok = ok && QDir(root).mkpath(QLatin1String(sub));
    // The scheduler's programs, and two backends of the test's own. Mode
    // 0700, so that a scheduler run as root runs them as root, in this folder.
    for (const char *sub : {"daemon", "filter"})
        ok = ok
             && QFile::link(QStringLiteral("/usr/lib/cups/") + QLatin1String(sub),
                            path("bin/") + QLatin1String(sub));
    const std::pair<const char *, QByteArray> backends[] = {
            {"bin/backend/slow", "sleep 5\n"},
            {"bin/backend/jam", "sleep 2\necho 'ERROR: Paper jam reported by the test' >&2\nexit 1\n"}};
    for (const auto &[name, body] : backends)
        ok = ok && testfiles::writeFile(path(name), "#!/bin/sh\n[ $# -eq 0 ] && exit 0\n" + body)
             && QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QByteArray files;
    for (const auto &[key, sub] : {std::pair{"ServerRoot", "conf"},
                                   {"RequestRoot", "spool"},
                                   {"TempDir", "spool"},
                                   {"StateDir", "state"},
                                   {"CacheDir", "cache"},
                                   {"ErrorLog", "log/error_log"},
                                   {"AccessLog", "log/access_log"},
                                   {"PageLog", "log/page_log"},
                                   {"ServerBin", "bin"}})
        files += QByteArray(key) + ' ' + path(sub).toUtf8() + '\n';
    files += "Sandboxing Relaxed\n";
    if (::geteuid() != 0) // a scheduler of one's own runs as oneself
        files += "User " + qgetenv("USER") + "\n";
    ok = ok && testfiles::writeFile(path("conf/cupsd.conf"), "Listen " + server + '\n' + kPolicy)
         && testfiles::writeFile(path("conf/cups-files.conf"), files)
         && testfiles::writeFile(path("conf/printers.conf"), kPrinters);
    if (!ok)
        return QStringLiteral("the print server's folder could not be set up in %1").arg(root);

    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), path("conf/cupsd.conf"),
                          QStringLiteral("-s"), path("conf/cups-files.conf")});
    if (!m_cupsd.waitForStarted(5000))
        return QStringLiteral("the print server did not start: %1").arg(m_cupsd.errorString());
    qputenv("CUPS_SERVER", server);
    cupsSetServer(server.constData());
    for (QDeadlineTimer up(10000); !up.hasExpired() && m_cupsd.state() == QProcess::Running;
         QThread::msleep(100))
        if (serverAnswers())
            return {};
    return QStringLiteral("the print server did not come up: %1 %2")
            .arg(QString::fromLocal8Bit(m_cupsd.readAll()), log());
}

PrintServer::~PrintServer()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return;
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(10000))
        m_cupsd.kill();
    m_cupsd.waitForFinished(5000);
}

QString PrintServer::document(int job) const
{
    return m_dir.filePath(QStringLiteral("spool/d%1-001").arg(job, 5, 10, QLatin1Char('0')));
}

QString PrintServer::log() const
{
    return QString::fromUtf8(
            testfiles::readFile(m_dir.filePath(QStringLiteral("log/error_log"))).right(2000));
}
