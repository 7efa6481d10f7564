#pragma once
// What the JACK test programs' wrappers of libjack (JackOpenLocked.cpp) count, and the delays and failures
// they can add.
#include <chrono>

namespace JackOpenLocked {

// Delays every jack_on_info_shutdown callback registered from now on by `delay` (0: none), as a loaded
// machine may: libjack has then already marked the server as gone when the callback runs. Any thread.
void delayShutdownCallbacks(std::chrono::milliseconds delay);
// The next `count` calls of jack_client_open fail with libjack's `status` bits without asking the server,
// as an open may fail for a moment on a loaded machine. Any thread.
void failNextOpens(int count, int status);
// With false, jack_client_open no longer takes the machine-wide open lock, until called with true: an open
// that a frozen server blocks would hold the lock, and so every JACK test on the machine, for the whole
// freeze. Only for the process's own clients, whose names are unique. Any thread.
void lockOpens(bool locked);
// Calls, on this thread, the jack_on_shutdown callback of every client of the process open now, as
// PipeWire's libjack (0.3.65) does for any error its server reports, also one after which the server goes on
// running the client; how many were called. Any thread.
int tellShutdownWithoutReason();
// The process callbacks of the process's clients are left out of the next `count` cycles of their server,
// as PipeWire's libjack (0.3.65) leaves out the cycles of a client that is late, telling no xrun. Any thread.
void skipProcessCycles(int count);
// Cycles left out so far. Any thread.
int skippedProcessCycles();
// Clients of the process open now (through jack_client_open, not yet closed). Any thread.
int clientsHeld();
// Calls of jack_client_open made while the process held a client already. Any thread.
int opensWhileHeld();

}  // namespace JackOpenLocked
