#pragma once

#include <QString>

#include <functional>

class ChartSurface;

// The widgets the commands read and write. The window realises it; tests use a
// scripted stand-in. Setting a profile field's text always raises that field's
// change handling, as an operator's edit does.
class Form
{
public:
    enum class Field { Text1 = 1, Text2, Text3, Text4, Text5, Text6, Text7, Text8 };
    enum class Caption { Label5, Label6 };

    virtual ~Form() = default;
    [[nodiscard]] virtual QString text(Field field) const = 0;
    virtual void setText(Field field, const QString &text) = 0;
    virtual void setCaption(Caption label, const QString &text) = 0;
    [[nodiscard]] virtual QString caption(Caption label) const = 0;
    [[nodiscard]] virtual bool com1Selected() const = 0;
    [[nodiscard]] virtual bool com2Selected() const = 0;
    virtual void setPortPanelVisible(bool visible) = 0;
    [[nodiscard]] virtual ChartSurface &chart() = 0;
    // What a changed profile field (1..8) calls; set where the services are assembled.
    virtual void setFieldChanged(std::function<void(int field)> handler) = 0;
};

[[nodiscard]] inline Form::Field fieldNumber(int n) { return Form::Field(n); }
