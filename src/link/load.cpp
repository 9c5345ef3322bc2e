#include "load.h"

#include "port.h"
#include "protocol.h"
#include "state/context.h"
#include "state/profile.h"

namespace {

// Puts the profile back as it was when a Load cannot finish, entry by entry,
// except where something else (an edit) has changed an entry meanwhile.
class ProfileRollback
{
public:
    explicit ProfileRollback(SharedState &s) : m_s(s), m_temp(s.stageTemp), m_time(s.stageTime) {}
    ProfileRollback(const ProfileRollback &) = delete;
    ProfileRollback &operator=(const ProfileRollback &) = delete;

    void wrote() { m_wroteTemp = m_s.stageTemp, m_wroteTime = m_s.stageTime; }
    void rollBack()
    {
        for (std::size_t k = 1; k <= 3; ++k) {
            if (m_s.stageTemp[k] == m_wroteTemp[k])
                m_s.stageTemp[k] = m_temp[k];
            if (m_s.stageTime[k] == m_wroteTime[k])
                m_s.stageTime[k] = m_time[k];
        }
    }

private:
    SharedState &m_s;
    const std::array<LooseValue, SharedState::kStageCount> m_temp, m_time;
    std::array<LooseValue, SharedState::kStageCount> m_wroteTemp, m_wroteTime;
};

} // namespace

bool parameterLoad(Context &c)
{
    SharedState &s = c.state;
    if (s.runFlag.leadingNumber() != 0)
        return true;
    ProfileRollback rollback(s);
    for (s.loopIndex = 1; s.loopIndex.number() <= 3; s.loopIndex = s.loopIndex.number() + 1) {
        const auto k = std::size_t(s.loopIndex.number());
        s.stageTemp[k] = 0;
        s.stageTime[k] = 0;
    }
    rollback.wrote();
    if (!ensurePortOpen(c)) {
        rollback.rollBack();
        return false;
    }
    flushInput(c);
    for (int k = 1; k <= 6; ++k) {
        // A request that cannot go out gets no answer; one that went out on a
        // port that has closed since is not waited for.
        const std::optional<int> v = sendByte(c, std::uint8_t(k)) ? awaitByte(c) : std::nullopt;
        if (!v) {
            rollback.rollBack();
            return false;
        }
        switch (k) {
        case 1: s.stageTemp[1] = *v; break;
        case 2: s.stageTime[1] = *v; break;
        case 3: s.stageTemp[2] = *v + 100; break;
        case 4: s.stageTime[2] = *v; break;
        case 5: s.stageTemp[3] = *v + 100; break;
        case 6: s.stageTime[3] = *v; break;
        }
        rollback.wrote();
    }
    showProfile(c);
    return true;
}

void getcanshu_Click(Context &c) { (void)parameterLoad(c); }
