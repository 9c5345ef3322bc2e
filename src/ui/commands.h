#pragma once

#include <functional>

// The operators' commands: one a menu item or port panel button, named as the
// item is. Set with designated initialisers, so that a misspelt command does
// not compile.
struct Commands
{
    std::function<void()> openfile;
    std::function<void()> savefile;
    std::function<void()> printpaper;
    std::function<void()> exit;
    std::function<void()> selectport;
    std::function<void()> to8031;
    std::function<void()> getcanshu;
    std::function<void()> stopcomm;
    std::function<void()> from8031;
    std::function<void()> stop;
    std::function<void()> yes;
    std::function<void()> cancel;
};

// The command a menu item or button runs; the layout names it, so that an
// item without one, or with another's, does not compile.
using Command = std::function<void()> Commands::*;
