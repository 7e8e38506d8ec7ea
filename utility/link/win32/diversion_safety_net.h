#pragma once

namespace tessaly {

// Makes sure queues moved off a port are put back however a console program ends:
// at exit() and when its console is interrupted (Ctrl+C, Ctrl+Break) or closed.
// The console handler runs on a thread of its own, where restoring is allowed; the
// process then ends as it would have. Installing twice is harmless.
void InstallDiversionSafetyNet();

}  // namespace tessaly
