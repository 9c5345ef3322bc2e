#pragma once

#include <cstdint>
#include <optional>

struct Context;

inline constexpr std::uint8_t cmdWriteProfile = 100;
inline constexpr std::uint8_t cmdStartRun = 0xAA;
inline constexpr std::uint8_t cmdStop = 0xBB;

class QString;

// Processes pending window events once (sleeping until there are some, unless
// a received byte is waiting). A fault of the port reaches reportLineFault
// from within.
void pumpEvents(Context &c);

// Tells the operator that the open port failed (the port is closed by then):
// the line's fault handler, set where the services are assembled. During a
// monitored run the run goes on and its monitor reconnects; a notice that does
// not hold the monitor off says so. Otherwise a message box.
void reportLineFault(Context &c, const QString &fault);

// True when the byte went to an open port.
bool sendByte(Context &c, std::uint8_t b);
// Discards every byte received so far, also those the system still holds.
void flushInput(Context &c);
// Waits for a byte, pumping events; nothing when a new Run abandons the wait or
// when the port it began on closes.
[[nodiscard]] std::optional<int> awaitByte(Context &c);
// The first waiting byte, or nothing when none is waiting.
[[nodiscard]] std::optional<int> pollByte(Context &c);
