#pragma once
// Where the run journal keeps its records, shared by the program that writes
// them and the tools that read them.
#include <QString>

namespace runs {

// The name of the program's own folder in the user's data folder.
inline constexpr const char *kApplicationName = "orvalen";

// The runs folder: the user's local data folder of the program plus "/runs"
// (~/.local/share/orvalen/runs on Linux, %LOCALAPPDATA%/orvalen/runs on
// Windows; XDG_DATA_HOME moves it). Empty where the system names no data
// folder. Nothing is created.
[[nodiscard]] QString folder();

} // namespace runs
