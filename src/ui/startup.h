#pragma once

struct Context;

// The one place where the services meet the handlers of `c`: every service
// that calls back is wired to its handler (the line's faults, the run clock's
// and Stop's timer ticks, a changed profile field). The program, the test rigs
// and the bench all assemble their services through it.
void wireServices(Context &c);
// Start-up: the idle state of the window, before it handles any event.
void Form_Load(Context &c);
// Exit: releases the port and ends the program at once.
void exit_Click(Context &c);
