#pragma once

struct Context;

// Each profile field's change stores the field's whole text into its element.
void Text1_Change(Context &c);
void Text2_Change(Context &c);
void Text3_Change(Context &c);
void Text4_Change(Context &c);
void Text5_Change(Context &c);
void Text6_Change(Context &c);

// Writes the six fields from the stage elements, Text1 to Text6 in order, each
// as its plain text; each field's change handling stores the text back.
void showProfile(Context &c);

// Routes a change of field 1..6 to its handler; other fields have none.
void profileFieldChanged(Context &c, int field);
