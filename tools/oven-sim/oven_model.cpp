#include "oven_model.h"

#include "../../src/link/frame.h" // plain C++, shared with the program

#include <algorithm>
#include <cmath>

namespace sim {

OvenModel::OvenModel(std::uint32_t seed, double noise) : m_noise(noise), m_random(seed) {}

void OvenModel::start(const std::array<std::uint8_t, 6> &slots)
{
    m_stageTemp = {double(slots[0]), slots[2] + 100.0, slots[4] + 100.0};
    m_stageTime = {double(slots[1]), double(slots[3]), double(slots[5])};
    m_phase = Phase::Heat1;
    m_held = 0;
}

void OvenModel::stop() { m_phase = m_phase == Phase::Idle ? Phase::Idle : Phase::Cool; }

void OvenModel::advance(double dt)
{
    while (dt > 0) {
        const double step = std::min(dt, 0.1);
        dt -= step;
        const int stage = (int(m_phase) - 1) / 2; // 0..2 while heating or holding
        switch (m_phase) {
        case Phase::Idle: m_temp += (kAmbient - m_temp) * std::min(1.0, 0.05 * step); break;
        case Phase::Heat1:
        case Phase::Heat2:
        case Phase::Heat3: {
            const double target = m_stageTemp[std::size_t(stage)];
            const double rate = target >= m_temp ? std::min(kHeatRate, m_rateLimit)
                                                 : -std::min(kCoolRate, m_rateLimit);
            m_temp += rate * step;
            if ((rate > 0 && m_temp >= target) || (rate < 0 && m_temp <= target)) {
                m_temp = target;
                m_phase = Phase(int(m_phase) + 1);
                m_held = 0;
            }
            break;
        }
        case Phase::Hold1:
        case Phase::Hold2:
        case Phase::Hold3:
            m_held += step;
            if (m_held >= m_stageTime[std::size_t(stage)])
                m_phase = Phase(int(m_phase) + 1); // Hold3 + 1 is Cool
            break;
        case Phase::Cool:
            m_temp = std::max(kAmbient, m_temp - std::min(kCoolRate, m_rateLimit) * step);
            if (m_temp <= kAmbient)
                m_phase = Phase::Idle;
            break;
        }
    }
}

int OvenModel::reading()
{
    std::uniform_real_distribution<double> jitter(-m_noise, m_noise);
    return std::max(0, int(std::lround(m_temp + (m_noise > 0 ? jitter(m_random) : 0.0))));
}

Controller::Controller(const Options &options)
    : m_options(options), m_profile(options.profile), m_oven(options.seed, options.noise)
{
    if (options.timeFactor > 1)
        m_oven.limitRate(8.0 / options.timeFactor);
}

void Controller::appendFrame(std::vector<std::uint8_t> &out, int reading)
{
    const auto bytes = frame::encode(reading);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void Controller::moveOven(double now)
{
    const double dt = std::max(0.0, now - m_lastMove) * m_options.timeFactor;
    m_lastMove = now;
    m_oven.advance(dt);
    if (m_running)
        m_simTime += dt;
}

std::vector<std::uint8_t> Controller::receive(std::uint8_t b, double now)
{
    std::vector<std::uint8_t> out;
    moveOven(now);
    if (m_options.faults.silent)
        return out;
    if (m_writeSlot >= 0) {
        // A profile write: every byte is the next slot's value.
        m_profile[std::size_t(m_writeSlot)] = b;
        ++m_writeSlot;
        if (m_writeSlot < 6)
            out.push_back(std::uint8_t(m_writeSlot + 1)); // asks for the next slot
        else
            m_writeSlot = -1;
        return out;
    }
    if (b >= 1 && b <= 6) {
        out.push_back(m_profile[std::size_t(b - 1)]);
    } else if (b == 100) {
        m_writeSlot = 0;
        out.push_back(1);
    } else if (b == 0xAA) {
        m_oven.start(m_profile);
        m_running = true;
        m_simTime = 0;
        m_nextFrame = now + 1.0 / m_options.framesPerSecond;
        m_spikeDone = m_over400Done = m_loseDone = m_burstDone = false;
    } else if (b == 0xBB) {
        m_running = false;
        m_oven.stop();
    }
    return out;
}

std::vector<std::uint8_t> Controller::due(double now)
{
    std::vector<std::uint8_t> out;
    if (!m_running || m_options.faults.silent)
        return out;
    const Faults &f = m_options.faults;
    while (m_running && m_nextFrame <= now) {
        moveOven(m_nextFrame);
        m_nextFrame += 1.0 / m_options.framesPerSecond;
        int r = m_oven.reading();
        if (!m_spikeDone && f.spikeAt >= 0 && m_simTime >= f.spikeAt) {
            m_spikeDone = true;
            r += 60;
        } else if (!m_over400Done && f.over400At >= 0 && m_simTime >= f.over400At) {
            m_over400Done = true;
            r = 450;
        }
        if (!m_burstDone && f.burstAt >= 0 && m_simTime >= f.burstAt) {
            m_burstDone = true;
            for (int i = 0; i + 3 <= f.burstBytes; i += 3) {
                appendFrame(out, r);
                m_sent.push_back(r);
            }
            continue;
        }
        appendFrame(out, r);
        m_sent.push_back(r);
        if (!m_loseDone && f.loseByteAt >= 0 && m_simTime >= f.loseByteAt) {
            m_loseDone = true;
            out.erase(out.end() - 2); // the low byte never arrives
        }
    }
    return out;
}

} // namespace sim
