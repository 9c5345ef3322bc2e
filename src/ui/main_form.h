#pragma once

#include "chart_view.h"
#include "commands.h"
#include "state/form.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QStyle;

namespace layout {
struct Box;
}

// The program's one window.
class MainForm : public QMainWindow, public Form
{
public:
    explicit MainForm(QWidget *parent = nullptr);

    using Commands = ::Commands;
    void setCommands(Commands commands) { m_commands = std::move(commands); }
    // True when the menu item or button of this name reaches a command that is
    // set: a test walks every item with it.
    [[nodiscard]] bool routes(const QString &name) const;
    // Runs on every change of a field's text, with the field's number.
    void setFieldChanged(std::function<void(int)> handler) override { m_fieldChanged = std::move(handler); }
    // Runs when the window's own close button is used.
    void setCloseHandler(std::function<void()> handler) { m_close = std::move(handler); }

    [[nodiscard]] QString text(Field field) const override;
    void setText(Field field, const QString &text) override;
    void setCaption(Caption label, const QString &text) override;
    [[nodiscard]] QString caption(Caption label) const override;
    [[nodiscard]] bool com1Selected() const override;
    [[nodiscard]] bool com2Selected() const override;
    void setPortPanelVisible(bool visible) override;
    [[nodiscard]] ChartSurface &chart() override { return *m_picture; }

    [[nodiscard]] ChartView &chartView() { return *m_picture; }
    [[nodiscard]] int twips(int value) const;
    void centreOnScreen();

    // The window reaches the screen at most this often; what it holds (texts,
    // chart image) changes at once.
    static constexpr int kPresentIntervalMs = 50;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void place(QWidget *w, const layout::Box &b) const;
    void buildMenus();
    void buildChartAndGroups(QWidget *client);
    void buildFields(QWidget *client, const QFont &fieldFont);
    void buildReadouts(QWidget *client, const QFont &fieldFont);
    void buildPortPanel();
    void present();
    void showUnshownTexts();
    // Starts a presentation's interval and hands it the held texts and the
    // chart's new lines.
    void beginPresentation();
    void route(Command command);

    double m_dpi;
    ChartView *m_picture = nullptr;
    QGroupBox *m_portPanel = nullptr;
    QStyle *m_fieldStyle = nullptr; // shared by the fields
    QRadioButton *m_com1 = nullptr;
    QRadioButton *m_com2 = nullptr;
    std::array<QLineEdit *, 8> m_fields{};
    QLabel *m_label5 = nullptr;
    QLabel *m_label6 = nullptr;
    QFont m_readoutFont; // as asked; each readout text is fitted from it
    Commands m_commands;
    std::function<void(int)> m_fieldChanged;
    std::function<void()> m_close;
    QElapsedTimer m_presented;
    QTimer m_presentLater;
    // Texts the program set that the fields show at the next presentation;
    // text() answers with them at once.
    std::array<std::optional<QString>, 8> m_unshown;
    bool m_showing = false;
};

// Fonts the layout asks for, each falling back to a face the system has.
[[nodiscard]] QFont systemBoldFont();
[[nodiscard]] QFont chartTitleFont();
