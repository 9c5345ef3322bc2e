#include "port.h"

#include "serial_line.h"
#include "state/context.h"

namespace {

// Steps 3 to 9 of the open sequence.
Status openSequence(Context &c)
{
    SerialLine &line = c.services.line;
    line.setSettings(QString::fromLatin1(kLineSettings));
    line.setRawInput();
    line.setReadLength(0);
    line.setReceiveBufferSize(1);
    line.discardReceived();
    line.discardUnsent();
    Status opened = line.open();
    if (opened)
        ++c.lineOpens;
    return opened;
}

} // namespace

Status tryPortOpen(Context &c)
{
    SerialLine &line = c.services.line;
    if (line.isOpen())
        return Done{};
    const Form &form = c.services.form;
    if (form.com1Selected())
        line.setPortNumber(1);
    if (form.com2Selected())
        line.setPortNumber(2);
    return openSequence(c);
}

Status reopenPort(Context &c)
{
    if (c.services.line.isOpen())
        return Done{};
    return openSequence(c);
}

bool ensurePortOpen(Context &c)
{
    const Status opened = tryPortOpen(c);
    if (opened)
        return true;
    c.services.messages.show(QStringLiteral("Cannot open the serial port %1: %2")
                                     .arg(c.services.line.portName(), opened.error()),
                             MessageService::Kind::Error);
    return false;
}

void closePort(Context &c)
{
    if (c.services.line.isOpen())
        c.services.line.close();
}

void selectport_Click(Context &c) { c.services.form.setPortPanelVisible(true); }
void yes_Click(Context &c) { c.services.form.setPortPanelVisible(false); }
void cancel_Click(Context &c) { c.services.form.setPortPanelVisible(false); }

bool portStillOpen(const Context &c, unsigned long long opened)
{
    return c.services.line.isOpen() && c.lineOpens == opened;
}
