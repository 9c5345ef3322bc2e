#include "startup.h"

#include "link/port.h"
#include "state/context.h"

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
