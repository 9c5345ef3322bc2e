#pragma once

struct Context;

// Stop: eleven paced stop bytes, then Stop Communicate, then "Vone Stoped".
void stop_Click(Context &c);
// Stop Communicate: the host's side of the run ends.
void stopcomm_Click(Context &c);
// The pacing tick of Stop.
void Timer3_Timer(Context &c);
