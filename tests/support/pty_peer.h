#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>

// The controller's end of a pseudo-terminal pair; the program opens the other
// end by its path as if it were a serial port.
class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    [[nodiscard]] bool ok() const { return m_master >= 0; }
    [[nodiscard]] QString path() const { return m_path; }
    // Writes all of bytes, sleeping while the pair is full; false (and a
    // warning) once the controller's end is closed or the program has read
    // nothing for 5 s.
    [[nodiscard]] bool write(const QByteArray &bytes);
    // Everything the program has sent so far, without waiting.
    QByteArray readAvailable();
    // Answers bytes from the program as they come, inside the event loop.
    void onReceive(std::function<void(unsigned char)> handler);
    // The cable is pulled: the controller's end goes away.
    void hangUp();

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_path;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void(unsigned char)> m_handler;
};
