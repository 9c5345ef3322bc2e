#pragma once

#include "state/platform.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>

class QWidget;

// Sleeps in the event loop until something happens. A heartbeat at each
// turn of the clock's second makes sure a waiting loop also comes round when
// nothing else happens (the date and time readouts must follow the clock); it
// is armed only by waits that show those readouts, so an idle window or a
// wait for a silent controller is not woken.
class QtEventPump : public EventPump
{
public:
    QtEventPump();
    void pumpEvents() override;
    void pumpPending() override;
    // Whether the current wait needs the heartbeat; always, where not set.
    void setHeartbeatWanted(std::function<bool()> wanted) { m_wanted = std::move(wanted); }

private:
    QTimer m_heartbeat;
    std::function<bool()> m_wanted;
};

class QtTimer : public Timer
{
public:
    explicit QtTimer(std::function<void()> onTick = {});
    void onTickCall(std::function<void()> onTick) override { m_onTick = std::move(onTick); }
    void setInterval(int ms) override;
    [[nodiscard]] int interval() const override;
    void setEnabled(bool enabled) override;
    [[nodiscard]] bool isEnabled() const override;

private:
    QTimer m_timer;
    std::function<void()> m_onTick;
};

class QtMessageBox : public MessageService
{
public:
    explicit QtMessageBox(QWidget *&parent) : m_parent(parent) {}
    void show(const QString &text, Kind kind) override;
    void notify(Topic topic, const QString &text, Kind kind) override;

private:
    QWidget *&m_parent;
    std::array<QPointer<QMessageBox>, 5> m_notices; // one a topic
};

class QtFileDialog : public FileDialog
{
public:
    explicit QtFileDialog(QWidget *&parent) : m_parent(parent) {}
    // Qt's own dialog instead of the desktop's, e.g. where a script answers it.
    void setNative(bool native) { m_native = native; }
    // A folder the Open dialog lists among its places (where runs are kept).
    void setOpenPlace(const QString &folder) { m_openPlace = folder; }
    QString openFileName(const QString &filter, int selected) override;
    QString saveFileName(const QString &filter, int selected) override;

    // "A|a|B|b" as Qt's "A;;B", and the selected entry's description.
    static QString qtFilter(const QString &filter, int selected, QString &selectedDescription);

private:
    QWidget *&m_parent;
    bool m_native = true;
    QString m_openPlace;
};

// The local date and time to the whole second, which is all the program
// shows or stamps; the local conversion is made once a second, not at every
// poll of the monitor.
class SystemClock : public Clock
{
public:
    [[nodiscard]] QDateTime now() const override;

private:
    mutable qint64 m_second = -1;
    mutable QDateTime m_local;
};

// Ends the process at once, whatever waits are on the stack.
class ProcessTerminator : public Terminator
{
public:
    [[noreturn]] void terminate() override;
    // Runs first, for what must not take longer than a blink.
    std::function<void()> beforeEnd;
};
