#pragma once

#include "serial_line.h"

#include <QObject>
#include <QSerialPort>

#include <array>

// The serial line over QSerialPort. A read hands over at most as many bytes as
// the receive buffer holds (one, for the program), in order; the rest stay in
// hand for the next reads. Bytes are taken from the system in chunks, so a
// byte in hand costs no wake-up.
class QtSerialLine : public QObject, public SerialLine
{
public:
    // The device names of port 1 and port 2; an empty name is chosen at each
    // open by defaultPortName.
    explicit QtSerialLine(QString port1 = {}, QString port2 = {}, QObject *parent = nullptr);
    ~QtSerialLine() override;

    // COM1/COM2 on Windows. Elsewhere /dev/orvalen1 (2) where it exists, the
    // name a udev rule gives a USB adapter, else /dev/ttyS0 (1).
    [[nodiscard]] static QString defaultPortName(int port, const QString &devices = QStringLiteral("/dev"));

    [[nodiscard]] bool isOpen() const override;
    void setPortNumber(int port) override;
    void setSettings(const QString &settings) override;
    void setRawInput() override;
    void setReadLength(int length) override;
    void setReceiveBufferSize(int bytes) override;
    void discardReceived() override;
    void discardUnsent() override;
    Status open() override;
    void close() override;
    [[nodiscard]] int bytesWaiting() override;
    QByteArray readAll() override;
    bool write(const QByteArray &bytes) override;
    [[nodiscard]] QString portName() const override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    std::array<QString, 2> m_names;
    int m_portNumber = 1;
    QString m_openedName;
    QString m_badSettings; // set: the last settings were not understood
    bool m_discardReceivedOnOpen = false;
    bool m_discardUnsentOnOpen = false;
    QString m_fault;
    bool m_faulted = false;
    int m_readLimit = 0; // bytes a read hands over; 0: all in hand
};
