#pragma once

struct Context;

// Start-up: the idle state of the window, before it handles any event.
void Form_Load(Context &c);
// Exit: releases the port and ends the program at once.
void exit_Click(Context &c);
