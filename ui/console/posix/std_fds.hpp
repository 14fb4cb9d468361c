// Descriptors 0, 1 and 2 for a program started with one of them closed. The kernel hands out the
// lowest free number, so without this the next file opened (the port, the mailbox's eventfd)
// would take the place of stdin, stdout or stderr: prompts and messages would go onto the
// controller's link, or a prompt would wait on the wrong descriptor for ever.
#pragma once

namespace fwburn::console {

// Opens /dev/null in the place of each closed standard descriptor; stdin then reads as end of
// input, which cancels a prompt, and writes to stdout or stderr fail as they did. Call it first in
// main, before anything opens a file. False when one is closed and /dev/null cannot be opened: the
// program must not go on.
bool KeepStandardDescriptorsOpen();

}  // namespace fwburn::console
