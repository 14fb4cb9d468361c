// The console the program runs in: UTF-8 output, and the virtual-terminal mode that lets the
// status line be redrawn in place and coloured where the console has it (Windows 10 and later).
// Both belong to the console, not to the program, and stay after it ends: they are put back as
// they were, however the program ends.
#pragma once

namespace fwburn::console {

// A missing standard handle (a program started without one) becomes NUL: output goes nowhere and
// input reads as its end, which cancels a prompt. Call it first.
void KeepStandardHandles();

// Sets UTF-8 output and, on a console stdout, its virtual-terminal processing; remembers what
// was there.
void TakeConsole();
// Puts back what TakeConsole found; once, from any thread.
void RestoreConsole();

// stdout is a console that processes virtual-terminal sequences.
bool VirtualTerminalOutput();

}  // namespace fwburn::console
