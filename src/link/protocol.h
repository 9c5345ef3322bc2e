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

// The open port failed (it is closed by then): the line's fault handler, set
// where the services are assembled. Counts the fault, then leaves it to the
// Context's lineFault hook where one is set and takes it; otherwise tells the
// operator in a message box.
void reportLineFault(Context &c, const QString &fault);

// True when the byte went to an open port.
bool sendByte(Context &c, std::uint8_t b);
// Discards every byte received so far, also those the system still holds.
void flushInput(Context &c);
// Waits for a byte, pumping events; nothing when a newer command abandons the wait or
// when the port it began on closes.
[[nodiscard]] std::optional<int> awaitByte(Context &c);
// The first waiting byte, or nothing when none is waiting.
[[nodiscard]] std::optional<int> pollByte(Context &c);
