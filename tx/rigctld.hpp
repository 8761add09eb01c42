#pragma once
// Keying the transmitter through the rig control daemon rigctld.

// One exchange with rigctld at Address:Port: connects (at most about 2 s),
// sends PTT_ON_Command (on) or PPT_OFF_Command (off) as its text alone, ends
// the sending direction and reads the answer for at most 0.5 s. Does nothing
// when Address is empty. No connection: "Could not connect to HamLib RIG
// Control Daemon!\n"; an answer "RPRT n" with n other than 0 is printed with
// the command. Failures never stop the caller.
void set_ptt(bool on);

// On the way out of the process: unkeys when the transmitter was last keyed
// on, and makes every later set_ptt do nothing. Waits for an exchange that
// another thread has under way.
void unkey_for_exit();
