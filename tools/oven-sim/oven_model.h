#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

// A simple oven: heats towards each stage's temperature, holds it for the
// stage's time, then cools; readings carry a degree or so of noise.
class OvenModel
{
public:
    enum class Phase { Idle, Heat1, Hold1, Heat2, Hold2, Heat3, Hold3, Cool };
    static constexpr double kAmbient = 25;
    static constexpr double kHeatRate = 2.5; // degrees per second at most
    static constexpr double kCoolRate = 2.0;

    explicit OvenModel(std::uint32_t seed = 1, double noise = 1.0);
    // Heating and cooling never go faster than this many degrees per
    // simulated second (a sped-up oven must not look like one that jumps).
    void limitRate(double degreesPerSecond) { m_rateLimit = degreesPerSecond; }

    // Starts a run through the profile as the controller holds it: six slot
    // bytes (stage 2 and 3 temperatures 100 below their value).
    void start(const std::array<std::uint8_t, 6> &slots);
    void stop();
    // Moves the oven on by dt simulated seconds.
    void advance(double dt);
    [[nodiscard]] double temperature() const { return m_temp; }
    // The reading the controller would send now: whole degrees, with noise.
    [[nodiscard]] int reading();

private:
    std::array<double, 3> m_stageTemp{};
    std::array<double, 3> m_stageTime{};
    Phase m_phase = Phase::Idle;
    double m_temp = kAmbient;
    double m_held = 0;
    double m_noise;
    double m_rateLimit = kHeatRate;
    std::mt19937 m_random;
};

// What the controller does with the bytes of the line: answers read requests,
// takes a profile write, streams reading frames during a run, and stops.
struct Faults
{
    double spikeAt = -1; // simulated second of one reading 60 degrees off
    double over400At = -1; // simulated second of one reading of 450
    double loseByteAt = -1; // simulated second of a frame that loses its low byte
    double burstAt = -1; // simulated second of a burst of frames at once
    int burstBytes = 3000;
    bool silent = false; // answers nothing and sends nothing
};

struct Options
{
    std::array<std::uint8_t, 6> profile{150, 60, 130, 90, 120, 40};
    double framesPerSecond = 1; // real seconds
    // Simulated seconds per real second. The program records one reading a
    // real second and drops changes above 10 degrees a second as spikes, so a
    // sped-up oven heats and cools at no more than 8 degrees a real second.
    double timeFactor = 1;
    double noise = 1;
    std::uint32_t seed = 1;
    Faults faults;
};

class Controller
{
public:
    explicit Controller(const Options &options);

    // A byte from the program at real time now; the bytes answered at once.
    std::vector<std::uint8_t> receive(std::uint8_t b, double now);
    // The frames due by real time now.
    std::vector<std::uint8_t> due(double now);
    // Real time of the next frame; negative when none is coming.
    [[nodiscard]] double nextDue() const { return m_running ? m_nextFrame : -1; }

    [[nodiscard]] const std::array<std::uint8_t, 6> &profile() const { return m_profile; }
    [[nodiscard]] bool running() const { return m_running; }
    // Every reading sent, in order.
    [[nodiscard]] const std::vector<int> &readingsSent() const { return m_sent; }

private:
    void moveOven(double now);
    static void appendFrame(std::vector<std::uint8_t> &out, int reading);

    Options m_options;
    std::array<std::uint8_t, 6> m_profile;
    OvenModel m_oven;
    int m_writeSlot = -1; // -1: not in a profile write; else the slot expected next (0..5)
    bool m_running = false;
    double m_nextFrame = 0;
    double m_lastMove = 0;
    double m_simTime = 0; // simulated seconds since the run started
    bool m_spikeDone = false, m_over400Done = false, m_loseDone = false, m_burstDone = false;
    std::vector<int> m_sent;
};

} // namespace sim
