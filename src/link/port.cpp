#include "port.h"

#include "serial_line.h"
#include "state/context.h"

bool ensurePortOpen(Context &c)
{
    SerialLine &line = c.services.line;
    if (line.isOpen())
        return true;
    const Form &form = c.services.form;
    if (form.com1Selected())
        line.setPortNumber(1);
    if (form.com2Selected())
        line.setPortNumber(2);
    line.setSettings(QString::fromLatin1(kLineSettings));
    line.setRawInput();
    line.setReadLength(0);
    line.setReceiveBufferSize(1);
    line.discardReceived();
    line.discardUnsent();
    QString error;
    if (line.open(error))
        return true;
    c.services.messages.show(QStringLiteral("Cannot open the serial port %1: %2")
                                     .arg(line.portName(), error),
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
