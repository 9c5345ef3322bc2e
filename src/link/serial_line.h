#pragma once

#include <QByteArray>
#include <QString>

// The serial port service, one operation per step of the open sequence so that
// the commands can keep its order. All calls on the window's thread.
class SerialLine
{
public:
    virtual ~SerialLine() = default;
    [[nodiscard]] virtual bool isOpen() const = 0;
    virtual void setPortNumber(int port) = 0;
    virtual void setSettings(const QString &settings) = 0; // "2400,N,8,1"
    virtual void setRawInput() = 0;
    virtual void setReadLength(int length) = 0;            // 0: all waiting
    virtual void setReceiveBufferSize(int bytes) = 0;
    virtual void discardReceived() = 0;
    virtual void discardUnsent() = 0;
    // Opens the port; on failure returns false and says why in error.
    virtual bool open(QString &error) = 0;
    virtual void close() = 0;
    // Bytes waiting to be read; 0 on a closed port.
    [[nodiscard]] virtual int bytesWaiting() = 0;
    virtual QByteArray readAll() = 0;
    // True when all of bytes went to an open port.
    virtual bool write(const QByteArray &bytes) = 0;
    // The name of the port the next open uses, for messages ("/dev/ttyS0").
    [[nodiscard]] virtual QString portName() const = 0;
    // A fault of an open port since the last call, in the operator's words
    // ("the device /dev/ttyUSB0 disappeared"); the port is closed by then.
    // Empty when there was none.
    [[nodiscard]] virtual QString takeFault() = 0;
};
