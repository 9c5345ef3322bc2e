#pragma once

#include "record_format.h"

#include <QString>

struct Context;

inline constexpr const char *kRecordFilter = "All Files (*.*)|*.*|Text Files(*.dbf)|*.dbf";
inline constexpr int kRecordFilterSelected = 2;

void savefile_Click(Context &c);
void openfile_Click(Context &c);
