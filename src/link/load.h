#pragma once

struct Context;

// Parameter Load: reads the six profile slots from the controller.
void getcanshu_Click(Context &c);
// The same; false when the command gave up (port not opened, or a newer command
// abandoned its wait), so that a caller must not go on.
[[nodiscard]] bool parameterLoad(Context &c);
