#include "protocol.h"

#include "run/run_stop.h"
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
    reportLineFault(c);
}

void reportLineFault(Context &c)
{
    const QString fault = c.services.line.takeFault();
    if (fault.isEmpty())
        return;
    c.services.messages.show(
            QStringLiteral("The connection to the oven was lost (%1).\n"
                           "The port is closed; what was recorded is kept and can be saved "
                           "and printed.")
                    .arg(fault),
            MessageService::Kind::Error);
    stopcomm_Click(c);
}

void sendByte(Context &c, std::uint8_t b)
{
    c.state.txBuffer[0] = b;
    c.services.line.write(QByteArray(reinterpret_cast<const char *>(c.state.txBuffer.data()),
                                     qsizetype(c.state.txBuffer.size())));
}

void flushInput(Context &c)
{
    c.state.rxBuffer = c.services.line.readAll();
    c.services.line.discardReceived();
}

std::optional<int> awaitByte(Context &c)
{
    for (;;) {
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
