// Whether two handles lead to one place: stdout and stderr that do share one writer, which keeps
// their order, and a trace named onto the file they already write goes through their handle.
#pragma once

#include <windows.h>

namespace fwburn::console {

bool IsConsole(HANDLE h);
// Two handles of one file on disk, by its file ID.
bool SameFile(HANDLE a, HANDLE b);
// Two handles of one pipe (`2>&1 |`).
bool SamePipe(HANDLE a, HANDLE b);
// Two handles of one console, of one file on disk or of one pipe.
bool SameDestination(HANDLE a, HANDLE b);

}  // namespace fwburn::console
