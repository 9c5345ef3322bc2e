#include "protocol.h"

#include "port.h"
#include "serial_line.h"
#include "state/context.h"

#include <QByteArray>

namespace {

int firstByte(const QByteArray &bytes) { return static_cast<unsigned char>(bytes.at(0)); }

} // namespace

void pumpEvents(Context &c)
{
    // A byte already taken from the system wakes nothing: sleeping here would
    // hold it until the next event.
    if (c.services.line.bytesWaiting() > 0)
        c.services.pump.pumpPending();
    else
        c.services.pump.pumpEvents();
}

void reportLineFault(Context &c, const QString &fault)
{
    ++c.lineFaults;
    if (c.hooks.lineFault && c.hooks.lineFault(fault))
        return;
    c.services.messages.show(QStringLiteral("The connection to the oven was lost: %1.\n\n"
                                            "The port is closed; the next command opens it "
                                            "again.")
                                     .arg(fault),
                             MessageService::Kind::Error);
}

bool sendByte(Context &c, std::uint8_t b)
{
    c.state.txBuffer[0] = b;
    return c.services.line.write(QByteArray(reinterpret_cast<const char *>(c.state.txBuffer.data()),
                                            qsizetype(c.state.txBuffer.size())));
}

void flushInput(Context &c)
{
    c.state.rxBuffer = c.services.line.readAll();
    c.services.line.discardReceived();
}

std::optional<int> awaitByte(Context &c)
{
    const unsigned long long opened = c.lineOpens;
    for (;;) {
        if (!portStillOpen(c, opened))
            return std::nullopt; // closed under the wait: the answer cannot come
        if (c.services.line.bytesWaiting() > 0) {
            c.state.rxBuffer = c.services.line.readAll();
            if (!c.state.rxBuffer.isEmpty())
                return firstByte(c.state.rxBuffer);
        }
        pumpEvents(c);
        if (c.abandoning())
            return std::nullopt;
    }
}

std::optional<int> pollByte(Context &c)
{
    if (c.services.line.bytesWaiting() == 0)
        return std::nullopt;
    c.state.rxBuffer = c.services.line.readAll();
    if (c.state.rxBuffer.isEmpty())
        return std::nullopt;
    return firstByte(c.state.rxBuffer);
}
