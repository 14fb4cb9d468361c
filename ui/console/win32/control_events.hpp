// The console's control events, where a Linux program has its ending signals: Ctrl+C, Ctrl+Break,
// the close of the console window, logoff and shutdown. Windows calls the handler on a thread of
// its own; the handler only keeps the first event and sets an event object that the main loop
// waits on, as the Linux loop reads its signalfd. The main thread then releases the ports and
// ends the process. For a close, logoff or shutdown Windows would end the process as soon as the
// handler returns: the handler waits for the main thread's ending instead.
#pragma once

#include <windows.h>

namespace fwburn::console {

// Installs the handler for this process; false when Windows refused it.
bool TakeControlEvents();
// Set once an event came; it stays set.
HANDLE ControlEventObject();
// The first event that came, when one did.
bool ControlEventCame(unsigned long& event);

}  // namespace fwburn::console
