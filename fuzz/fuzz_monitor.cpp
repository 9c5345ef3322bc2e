// Any byte stream from the controller, with clock ticks, stops and restarts
// anywhere among the bytes: the monitor must never index the samples outside
// 0..510 and the run clock must never pass 501.
#include "fakes.h"

#include "run/monitor.h"
#include "run/run_stop.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Rig rig;
    rig.timer1.setInterval(1000);
    rig.timer1.setEnabled(true);
    SharedState &s = rig.c.state;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const std::uint8_t op = data[i];
        const std::uint8_t value = data[i + 1];
        switch (op % 8) {
        case 0:
        case 1: // a tick of the run clock, when it runs
            for (int t = 0; t <= op / 8 && rig.timer1.isEnabled(); ++t)
                Timer1_Timer(rig.c);
            break;
        case 2: // the operator stops communicating, then a new run starts the clock
            stopcomm_Click(rig.c);
            if (value & 1) {
                s.runTicks = 0;
                s.frameByte = 0;
                rig.timer1.setEnabled(true);
            }
            break;
        default: // a byte of the feed
            monitorByte(rig.c, value);
            break;
        }
        const double ticks = s.runTicks.leadingNumber();
        if (ticks < 0 || ticks > 501)
            std::abort();
        if (s.frameByte < 0 || s.frameByte > 2)
            std::abort();
    }
    return 0;
}
