// Words the console says in more than one place: a port's short name, numbers in hex, why a
// port's lock was not had, and why --yes gave up. One wording each, whatever kind of run says it.
#pragma once

#include <string>

namespace fwburn::console {

// The name the worker keeps for a port (at most 9 characters: its messages quote it): the path
// below /dev when it fits, a Windows name without its "\\.\", else the file name, cut to fit.
std::string ShortPortName(const std::string& path);

// Why an update that --yes answered ended at its reconnect step: the controller stayed in its
// application after `accepted` update requests.
std::string GaveUpText(int accepted);

// "0x3010" with `digits` hex digits at least.
std::string Hex(unsigned value, int digits);

// The line before a refusal for want of the lock: who holds it (`holder`, 0 when it cannot be
// told, and its `program` name, empty when unknown) and its file, or, without a file, why no lock
// could be taken (`why`). The holder may be an update or a look, of a console or a window.
std::string LockRefusal(const std::string& what, int holder, const std::string& program,
                        const std::string& busyFile, const std::string& why);

}  // namespace fwburn::console
