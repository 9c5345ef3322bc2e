#pragma once

#include <QByteArray>
#include <QString>

#include "state/platform.h"

#include <functional>

// The serial port service, one operation per step of the open sequence so that
// the commands can keep its order. All calls on the window's thread.
class SerialLine
{
public:
    virtual ~SerialLine() = default;
    [[nodiscard]] virtual bool isOpen() const = 0;
    virtual void setPortNumber(int port) = 0;
    // "2400,N,8,1"; a string that is not understood makes the next open fail.
    virtual void setSettings(const QString &settings) = 0;
    virtual void setRawInput() = 0;
    virtual void setReadLength(int length) = 0; // 0: all waiting
    virtual void setReceiveBufferSize(int bytes) = 0;
    virtual void discardReceived() = 0;
    virtual void discardUnsent() = 0;
    // Opens the port, or says why it cannot.
    virtual Status open() = 0;
    virtual void close() = 0;
    // Bytes waiting to be read; 0 on a closed port.
    [[nodiscard]] virtual int bytesWaiting() = 0;
    virtual QByteArray readAll() = 0;
    // True when all of bytes went to an open port.
    virtual bool write(const QByteArray &bytes) = 0;
    // The name of the port the next open uses, for messages ("/dev/ttyS0").
    [[nodiscard]] virtual QString portName() const = 0;

    // The one route by which a fault of an open port reaches the program: the
    // handler is told once a fault, from within the event pump, in the
    // operator's words ("the device /dev/ttyUSB0 disappeared"), and the port
    // is closed by then. Set where the services are assembled.
    using FaultHandler = std::function<void(const QString &fault)>;
    void setFaultHandler(FaultHandler handler) { m_faultHandler = std::move(handler); }

protected:
    // For the realisations: the port has failed and is closed.
    void tellFault(const QString &fault)
    {
        if (m_faultHandler)
            m_faultHandler(fault);
    }

private:
    FaultHandler m_faultHandler;
};
