#include "qt_serial_line.h"

#include <QFileInfo>
#include <QStringList>
#include <QTimer>

QtSerialLine::QtSerialLine(QString port1, QString port2, QObject *parent)
    : QObject(parent), m_names{std::move(port1), std::move(port2)}
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLine::onError);
}

QtSerialLine::~QtSerialLine()
{
    if (m_port.isOpen())
        m_port.close();
}

QString QtSerialLine::defaultPortName(int port, const QString &devices)
{
#ifdef Q_OS_WIN
    Q_UNUSED(devices);
    return QStringLiteral("COM%1").arg(port);
#else
    const QString adapter = QStringLiteral("%1/orvalen%2").arg(devices).arg(port);
    if (QFileInfo::exists(adapter))
        return adapter;
    return QStringLiteral("%1/ttyS%2").arg(devices).arg(port - 1);
#endif
}

bool QtSerialLine::isOpen() const { return m_port.isOpen(); }

void QtSerialLine::setPortNumber(int port)
{
    if (port == 1 || port == 2)
        m_portNumber = port;
}

void QtSerialLine::setSettings(const QString &settings)
{
    // Checked whole before any of it is used: a port half set up from a
    // string nobody meant would talk at the wrong speed in silence.
    const QStringList parts = settings.split(u',');
    bool baudOk = false;
    bool bitsOk = false;
    const int baud = parts.size() == 4 ? parts[0].trimmed().toInt(&baudOk) : 0;
    const int bits = parts.size() == 4 ? parts[2].trimmed().toInt(&bitsOk) : 0;
    const QString parityText = parts.size() == 4 ? parts[1].trimmed().toUpper() : QString();
    const QString stopText = parts.size() == 4 ? parts[3].trimmed() : QString();
    if (parts.size() != 4 || !baudOk || baud <= 0 || !bitsOk || bits < 5 || bits > 8
        || !(parityText.isEmpty() || (parityText.size() == 1 && QStringLiteral("NEOMS").contains(parityText)))
        || !(stopText == u"1" || stopText == u"1.5" || stopText == u"2")) {
        m_badSettings = settings;
        return;
    }
    m_badSettings.clear();
    m_port.setBaudRate(baud);
    const QChar parity = parityText.isEmpty() ? u'N' : parityText.at(0);
    m_port.setParity(parity == u'E'   ? QSerialPort::EvenParity
                     : parity == u'O' ? QSerialPort::OddParity
                     : parity == u'M' ? QSerialPort::MarkParity
                     : parity == u'S' ? QSerialPort::SpaceParity
                                      : QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::DataBits(bits));
    m_port.setStopBits(stopText == u"2"     ? QSerialPort::TwoStop
                       : stopText == u"1.5" ? QSerialPort::OneAndHalfStop
                                            : QSerialPort::OneStop);
}

void QtSerialLine::setRawInput()
{
    // QSerialPort hands over bytes as they are; there is no text mode to leave.
}

void QtSerialLine::setReadLength(int)
{
    // readAll() always returns every byte that is waiting.
}

namespace {
// What Qt takes from the system at one notification at most; the system keeps
// the rest queued.
constexpr qint64 kChunk = 4096;
} // namespace

void QtSerialLine::setReceiveBufferSize(int bytes)
{
    m_readLimit = qMax(0, bytes);
    m_port.setReadBufferSize(qMax<qint64>(kChunk, bytes));
}

void QtSerialLine::discardReceived()
{
    if (!m_port.isOpen()) {
        m_discardReceivedOnOpen = true; // clear() does nothing on a closed port
        return;
    }
    m_port.clear(QSerialPort::Input); // the system's queue and Qt's buffer
    (void)m_port.readAll(); // rearms reading if the full buffer had paused it
}

void QtSerialLine::discardUnsent()
{
    if (!m_port.isOpen()) {
        m_discardUnsentOnOpen = true;
        return;
    }
    m_port.clear(QSerialPort::Output);
}

Status QtSerialLine::open()
{
    if (!m_badSettings.isEmpty()) {
        m_discardReceivedOnOpen = m_discardUnsentOnOpen = false;
        return Status::failure(QStringLiteral("the line settings \"%1\" are not understood "
                                              "(speed,parity,data bits,stop bits, as in \"2400,N,8,1\")")
                                       .arg(m_badSettings));
    }
    m_openedName = portName();
    m_port.setPortName(m_openedName);
    m_fault.clear();
    m_faulted = false;
    m_port.clearError(); // a failed line's error must not stick to the next open
    if (!m_port.open(QIODevice::ReadWrite)) {
        QString error;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            error = QStringLiteral("there is no such port on this computer (%1)").arg(m_port.errorString());
            break;
        case QSerialPort::PermissionError:
            error = QStringLiteral("it is in use by another program, or this user may not open it (%1)")
                            .arg(m_port.errorString());
            break;
        default: error = m_port.errorString(); break;
        }
        m_discardReceivedOnOpen = m_discardUnsentOnOpen = false;
        return Status::failure(error);
    }
    if (m_discardReceivedOnOpen)
        discardReceived();
    if (m_discardUnsentOnOpen)
        discardUnsent();
    m_discardReceivedOnOpen = m_discardUnsentOnOpen = false;
    return Done{};
}

void QtSerialLine::close()
{
    if (!m_port.isOpen())
        return;
    m_port.flush(); // a stop byte written just before must still reach the oven
    m_port.close();
}

int QtSerialLine::bytesWaiting()
{
    if (!m_port.isOpen())
        return 0;
    return int(qMin<qint64>(m_port.bytesAvailable(), 1 << 20));
}

QByteArray QtSerialLine::readAll()
{
    if (!m_port.isOpen())
        return {};
    return m_readLimit > 0 ? m_port.read(m_readLimit) : m_port.readAll();
}

bool QtSerialLine::write(const QByteArray &bytes)
{
    if (!m_port.isOpen() || m_faulted)
        return false;
    if (m_port.write(bytes) != bytes.size())
        return false;
    // Hand it to the system now, not at the next event; a failing port reports
    // its error from inside flush.
    m_port.flush();
    return !m_faulted && m_port.isOpen();
}

QString QtSerialLine::portName() const
{
    const QString &name = m_names[std::size_t(m_portNumber - 1)];
    return name.isEmpty() ? defaultPortName(m_portNumber) : name;
}

void QtSerialLine::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
    case QSerialPort::UnknownError: break;
    default: return;
    }
    if (m_faulted || !m_port.isOpen())
        return; // the first error of a failing port is the one to tell
    m_faulted = true;
    // The system's error text at this point is often a stale one ("Inappropriate
    // ioctl for device"): say what happened to the line instead.
    const QString &device = m_openedName;
    m_fault = QFileInfo::exists(device)
                      ? QStringLiteral("the line on %1 hung up or failed").arg(device)
                      : QStringLiteral("the device %1 disappeared (cable or adapter pulled)").arg(device);
    // Close outside the port's own signal; a failing port reports errors in a
    // tight loop until it is closed.
    QTimer::singleShot(0, this, [this] {
        if (!m_faulted)
            return; // opened again meanwhile: that open is a new line
        close();
        m_faulted = false;
        tellFault(std::exchange(m_fault, QString()));
    });
}
