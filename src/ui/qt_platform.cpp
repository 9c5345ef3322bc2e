#include "qt_platform.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {
const QString kTitle = QStringLiteral("ORVALEN REFLOW VOEN");
}

QtEventPump::QtEventPump()
{
    m_heartbeat.setSingleShot(true);
    m_heartbeat.setTimerType(Qt::PreciseTimer);
}

void QtEventPump::pumpEvents()
{
    if (!m_heartbeat.isActive() && (!m_wanted || m_wanted())) {
        const qint64 ms = QDateTime::currentMSecsSinceEpoch();
        m_heartbeat.start(int(1000 - ms % 1000) + 2); // just past the next second
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtEventPump::pumpPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

QtTimer::QtTimer(std::function<void()> onTick) : m_onTick(std::move(onTick))
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_onTick)
            m_onTick();
    });
}

void QtTimer::setInterval(int ms) { m_timer.setInterval(ms); }
int QtTimer::interval() const { return m_timer.interval(); }

void QtTimer::setEnabled(bool enabled)
{
    if (!enabled)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}

bool QtTimer::isEnabled() const { return m_timer.isActive(); }

namespace {
QMessageBox::Icon iconOf(MessageService::Kind kind)
{
    return kind == MessageService::Kind::Error     ? QMessageBox::Critical
           : kind == MessageService::Kind::Warning ? QMessageBox::Warning
                                                   : QMessageBox::NoIcon;
}
} // namespace

void QtMessageBox::show(const QString &text, Kind kind)
{
    QMessageBox box(iconOf(kind), kTitle, text, QMessageBox::Ok, m_parent);
    box.exec();
}

void QtMessageBox::notify(Topic topic, const QString &text, Kind kind)
{
    QPointer<QMessageBox> &box = m_notices[std::size_t(topic)];
    if (!box) {
        box = new QMessageBox(iconOf(kind), kTitle, text, QMessageBox::Ok, m_parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
    } else {
        box->setIcon(iconOf(kind));
        box->setText(text);
    }
    box->show();
    box->raise();
}

QString QtFileDialog::qtFilter(const QString &filter, int selected, QString &selectedDescription)
{
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        entries << parts[i];
        if (i / 2 + 1 == selected)
            selectedDescription = parts[i];
    }
    return entries.join(QStringLiteral(";;"));
}

QString QtFileDialog::openFileName(const QString &filter, int selected)
{
    QString chosen;
    const QString qt = qtFilter(filter, selected, chosen);
    // As QFileDialog::getOpenFileName builds it, with one more place beside it.
    QFileDialog dialog(m_parent, QStringLiteral("Open"), QString(), qt);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog, !m_native);
    dialog.selectNameFilter(chosen);
    // (Qt's own dialog keeps its places from one use to the next.)
    const QUrl place = QUrl::fromLocalFile(m_openPlace);
    if (!m_openPlace.isEmpty() && QFileInfo(m_openPlace).isDir() && !dialog.sidebarUrls().contains(place))
        dialog.setSidebarUrls(dialog.sidebarUrls() << place);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

QString QtFileDialog::saveFileName(const QString &filter, int selected)
{
    QString chosen;
    const QString qt = qtFilter(filter, selected, chosen);
    return QFileDialog::getSaveFileName(m_parent, QStringLiteral("Save"), QString(), qt, &chosen,
                                        m_native ? QFileDialog::Options() : QFileDialog::DontUseNativeDialog);
}

QDateTime SystemClock::now() const
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != m_second) {
        m_second = second;
        m_local = QDateTime::fromSecsSinceEpoch(second);
    }
    return m_local;
}

void ProcessTerminator::terminate()
{
    if (beforeEnd)
        beforeEnd();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}
