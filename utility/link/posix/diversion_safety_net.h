#pragma once

namespace tessaly {

// Makes sure paused print queues are resumed however the process ends: at exit()
// and on SIGINT, SIGTERM, SIGHUP and SIGQUIT. The handlers only write the signal
// number to a pipe; a thread reads it, restores every PortDiversion (work that is
// not allowed inside a signal handler), and then ends the process with the same
// signal, so the exit status is what it would have been. Installing twice is
// harmless. Signals this process already ignores stay ignored.
void InstallDiversionSafetyNet();

}  // namespace tessaly
