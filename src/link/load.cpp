#include "load.h"

#include "port.h"
#include "protocol.h"
#include "state/context.h"
#include "state/profile.h"

bool parameterLoad(Context &c)
{
    SharedState &s = c.state;
    if (s.runFlag.leadingNumber() != 0)
        return true;
    for (s.loopIndex = 1; s.loopIndex.number() <= 3; s.loopIndex = s.loopIndex.number() + 1) {
        const auto k = std::size_t(s.loopIndex.number());
        s.stageTemp[k] = 0;
        s.stageTime[k] = 0;
    }
    if (!ensurePortOpen(c))
        return false;
    flushInput(c);
    for (int k = 1; k <= 6; ++k) {
        sendByte(c, std::uint8_t(k));
        const std::optional<int> v = awaitByte(c);
        if (!v)
            return false;
        switch (k) {
        case 1: s.stageTemp[1] = *v; break;
        case 2: s.stageTime[1] = *v; break;
        case 3: s.stageTemp[2] = *v + 100; break;
        case 4: s.stageTime[2] = *v; break;
        case 5: s.stageTemp[3] = *v + 100; break;
        case 6: s.stageTime[3] = *v; break;
        }
    }
    showProfile(c);
    return true;
}

void getcanshu_Click(Context &c) { (void)parameterLoad(c); }
