#pragma once

#include "commands.h"

// The window's layout in twips, as the operators know it, and the command
// each menu item and button runs. Pure data.
namespace layout {

inline constexpr const char *kTitle = "                              ORVALEN REFLOW VOEN   ";
inline constexpr int kClientWidth = 10335;
inline constexpr int kClientHeight = 5550;

enum class Align { Left, Right, Centre };

struct Box
{
    const char *name;
    const char *parent; // "" for the window's client area
    const char *caption;
    int left, top, width, height;
    Align align;
};

// Static labels around the chart.
inline constexpr Box kAxisLabels[] = {
        {"Label15", "", "        REFLOW    PROFILE", 1644, 168, 5772, 348, Align::Left},
        {"Label24", "", "\u2103", 564, 612, 192, 252, Align::Right},
        {"Label16", "", "300", 168, 600, 408, 252, Align::Right},
        {"Label17", "", "250", 312, 1356, 372, 252, Align::Right},
        {"Label18", "", "200", 312, 2076, 372, 252, Align::Right},
        {"Label19", "", "150", 312, 2808, 372, 252, Align::Right},
        {"Label20", "", "100", 300, 3516, 372, 252, Align::Right},
        {"Label21", "", "50", 288, 4236, 372, 252, Align::Right},
        {"Label22", "", "0", 372, 4944, 252, 192, Align::Right},
        {"Label23", "", " 0", 516, 5196, 420, 252, Align::Centre},
        {"Label9", "", "50", 1296, 5196, 432, 204, Align::Centre},
        {"Label10", "", "100", 2040, 5208, 420, 216, Align::Centre},
        {"Label14", "", "150", 2748, 5196, 456, 204, Align::Centre},
        {"Label25", "", "200", 3492, 5208, 420, 204, Align::Centre},
        {"Label26", "", "250", 4188, 5208, 468, 204, Align::Centre},
        {"Label27", "", "300", 4956, 5208, 420, 204, Align::Centre},
        {"Label28", "", "350", 5712, 5220, 420, 192, Align::Centre},
        {"Label29", "", "400", 6468, 5232, 336, 192, Align::Centre},
        {"Label30", "", "450", 7248, 5220, 384, 228, Align::Left},
        {"Label31", "", "500  S", 8040, 5232, 684, 192, Align::Left},
};

inline constexpr Box kPicture = {"Picture1", "", "", 756, 636, 7440, 4476, Align::Left};

inline constexpr Box kGroups[] = {
        {"Frame2", "", "Parameter1", 8256, 456, 1944, 948, Align::Left},
        {"Frame3", "", "Parameter2", 8256, 1392, 1932, 1032, Align::Left},
        {"Frame4", "", "Parameter3", 8280, 2424, 1920, 936, Align::Left},
        {"Frame5", "", "Run", 8280, 3432, 1944, 876, Align::Left},
};

inline constexpr Box kGroupLabels[] = {
        {"Label1", "Frame2", "Temperature", 60, 252, 1080, 240, Align::Centre},
        {"Label2", "Frame2", "Time(S)", 108, 588, 1008, 288, Align::Centre},
        {"Label3", "Frame3", "Temperature", 72, 240, 1140, 216, Align::Centre},
        {"Label4", "Frame3", "Time(S)", 108, 588, 996, 288, Align::Centre},
        {"Label7", "Frame4", "Temperature", 72, 228, 1128, 252, Align::Centre},
        {"Label8", "Frame4", "Time(S)", 144, 564, 972, 252, Align::Centre},
        {"Label11", "Frame5", "Temperature", 120, 216, 1104, 216, Align::Centre},
        {"Label12", "Frame5", "Time(S)", 192, 552, 984, 240, Align::Centre},
};

// In focus order.
inline constexpr Box kFields[] = {
        {"Text1", "", "", 9504, 696, 648, 255, Align::Centre},
        {"Text2", "", "", 9504, 1044, 648, 255, Align::Centre},
        {"Text3", "", "", 9528, 1620, 624, 255, Align::Centre},
        {"Text4", "", "", 9540, 1956, 612, 255, Align::Centre},
        {"Text5", "", "", 9528, 2628, 624, 255, Align::Centre},
        {"Text6", "", "", 9528, 2988, 636, 255, Align::Centre},
        {"Text7", "", "", 9540, 3600, 600, 255, Align::Centre},
        {"Text8", "", "", 9540, 3960, 612, 255, Align::Centre},
};

inline constexpr Box kReadouts[] = {
        {"Label5", "", "", 8352, 4404, 1644, 288, Align::Centre},
        {"Label6", "", "", 8352, 4872, 1644, 276, Align::Centre},
};

inline constexpr Box kPortPanel = {"Frame1", "Picture1", "PORT", 2412, 996, 2775, 1695, Align::Left};
inline constexpr Box kPortOptions[] = {
        {"COM1", "Frame1", "COM1", 120, 360, 975, 255, Align::Left},
        {"COM2", "Frame1", "COM2", 120, 720, 975, 255, Align::Left},
};
struct Button
{
    Box box;
    Command command;
};

inline constexpr Button kPortButtons[] = {
        {{"yes", "Frame1", "OK", 120, 1080, 855, 375, Align::Centre}, &Commands::yes},
        {{"cancel", "Frame1", "CANCEL", 1800, 1080, 855, 375, Align::Centre}, &Commands::cancel},
};

struct MenuItem
{
    const char *name;
    const char *caption; // "-" is a separator
    Command command; // none for a separator
};

struct Menu
{
    const char *name;
    const char *caption;
    MenuItem items[5];
    int count;
};

inline constexpr Menu kMenus[] = {
        {"file",
         "File(&F)",
         {{"openfile", "Open(&O)", &Commands::openfile},
          {"savefile", "Save(&S)", &Commands::savefile},
          {"printpaper", "Print(&P)", &Commands::printpaper},
          {"invar", "-", nullptr},
          {"exit", "Exit(&X)", &Commands::exit}},
         5},
        {"setparameter",
         "Set(&S)",
         {{"selectport", "Port Select(&P)", &Commands::selectport},
          {"to8031", "Parameter Transfer(&T)", &Commands::to8031}},
         2},
        {"comm",
         "Communicate(&C)",
         {{"getcanshu", "Parameter Load(&L)", &Commands::getcanshu},
          {"stopcomm", "Stop Communicate(&T)", &Commands::stopcomm}},
         2},
        {"run_stop",
         "Run(&R)",
         {{"from8031", "Run(&R)", &Commands::from8031}, {"stop", "Stop(&S)", &Commands::stop}},
         2},
};

} // namespace layout
