#pragma once

#include <QString>

#include <optional>

struct Context;
class Form;

// Parameter Transfer: sends the six fields at the controller's pace.
void to8031_Click(Context &c);

// The byte that step 1..6 sends for a field text, or nothing when the value
// does not fit in a byte.
[[nodiscard]] std::optional<int> slotByte(int step, const QString &fieldText);
// Why step's field cannot be sent, or an empty text when it can.
[[nodiscard]] QString slotProblem(int step, const QString &fieldText);
