#include "pty_peer.h"

#include "../../tools/oven-sim/raw_pty.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    const std::optional<RawPty> pty = openRawPty(true);
    if (!pty)
        return;
    m_master = pty->master;
    m_path = QString::fromStdString(pty->path);
    // Keeping the slave open means the pair survives the program closing and
    // reopening its end, as a serial device does.
    m_slaveKeeper = pty->slave;
}

PtyPeer::~PtyPeer()
{
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
}

bool PtyPeer::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    const char *why = "the controller's end is closed";
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            why = std::strerror(errno);
            break;
        }
        pollfd p{m_master, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0 || (p.revents & (POLLERR | POLLNVAL))) {
            why = "the program took no bytes for 5 s";
            break;
        }
    }
    if (done < bytes.size())
        qWarning("PtyPeer: %s; %lld bytes not written", why, static_cast<long long>(bytes.size() - done));
    return done == bytes.size();
}

QByteArray PtyPeer::readAvailable()
{
    QByteArray out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

void PtyPeer::onReceive(std::function<void(unsigned char)> handler)
{
    m_handler = std::move(handler);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        const QByteArray bytes = readAvailable();
        for (char ch : bytes)
            if (m_handler)
                m_handler(static_cast<unsigned char>(ch));
    });
}

void PtyPeer::hangUp()
{
    m_notifier.reset();
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    m_slaveKeeper = -1;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
