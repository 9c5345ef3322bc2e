#pragma once

#include "state/outcome.h"

#include <QString>

struct Context;

inline constexpr const char *kLineSettings = "2400,N,8,1";

// Opens the port chosen in the port panel if it is closed. False when it cannot
// be opened: the operator has been told why, and the command must give up.
[[nodiscard]] bool ensurePortOpen(Context &c);
// The same, telling nobody: a failure says why.
[[nodiscard]] Status tryPortOpen(Context &c);
// Opens the port that was last used again, whatever the panel says now, as a
// command does after its line failed. Tells nobody.
[[nodiscard]] Status reopenPort(Context &c);
void closePort(Context &c);
// Whether the port is open and still on the open that `opened` (a value of
// Context::lineOpens) named: a wait that began on one open of the port must
// not take or count bytes of a later one.
[[nodiscard]] bool portStillOpen(const Context &c, unsigned long long opened);

void selectport_Click(Context &c);
void yes_Click(Context &c);
void cancel_Click(Context &c);
