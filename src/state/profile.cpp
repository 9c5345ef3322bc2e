#include "profile.h"

#include "context.h"

namespace {

void store(Context &c, Form::Field field, LooseValue &element) { element = c.services.form.text(field); }

} // namespace

void Text1_Change(Context &c) { store(c, Form::Field::Text1, c.state.stageTemp[1]); }
void Text2_Change(Context &c) { store(c, Form::Field::Text2, c.state.stageTime[1]); }
void Text3_Change(Context &c) { store(c, Form::Field::Text3, c.state.stageTemp[2]); }
void Text4_Change(Context &c) { store(c, Form::Field::Text4, c.state.stageTime[2]); }
void Text5_Change(Context &c) { store(c, Form::Field::Text5, c.state.stageTemp[3]); }
void Text6_Change(Context &c) { store(c, Form::Field::Text6, c.state.stageTime[3]); }

void profileFieldChanged(Context &c, int field)
{
    switch (field) {
    case 1: Text1_Change(c); break;
    case 2: Text2_Change(c); break;
    case 3: Text3_Change(c); break;
    case 4: Text4_Change(c); break;
    case 5: Text5_Change(c); break;
    case 6: Text6_Change(c); break;
    default: break;
    }
}

void showProfile(Context &c)
{
    Form &form = c.services.form;
    const SharedState &s = c.state;
    form.setText(Form::Field::Text1, s.stageTemp[1].plainForm());
    form.setText(Form::Field::Text2, s.stageTime[1].plainForm());
    form.setText(Form::Field::Text3, s.stageTemp[2].plainForm());
    form.setText(Form::Field::Text4, s.stageTime[2].plainForm());
    form.setText(Form::Field::Text5, s.stageTemp[3].plainForm());
    form.setText(Form::Field::Text6, s.stageTime[3].plainForm());
}
