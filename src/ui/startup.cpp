#include "startup.h"

#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_line.h"
#include "run/monitor.h"
#include "run/run_stop.h"
#include "state/context.h"
#include "state/profile.h"

void wireServices(Context &c)
{
    Services &s = c.services;
    s.line.setFaultHandler([&c](const QString &fault) { reportLineFault(c, fault); });
    s.Timer1.onTickCall([&c] { Timer1_Timer(c); });
    s.Timer3.onTickCall([&c] { Timer3_Timer(c); });
    s.form.setFieldChanged([&c](int field) { profileFieldChanged(c, field); });
}

void Form_Load(Context &c)
{
    c.state.runFlag = 0;
    c.services.Timer1.setInterval(10);
    c.services.Timer1.setEnabled(false);
    c.services.form.setPortPanelVisible(false);
    c.services.Timer3.setInterval(100);
    c.services.Timer3.setEnabled(false);
}

void exit_Click(Context &c)
{
    closePort(c);
    c.services.terminator.terminate();
}
