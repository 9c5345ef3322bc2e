#pragma once

struct Context;

// Run: port, stamps, Parameter Load, the start byte, then the monitor.
void from8031_Click(Context &c);

// Stores the current local date and time into the run stamp and copies it to
// the record stamp.
void stampNow(Context &c);
