// The --fault argument of plcsim: one text per fault, turned into the simulator's fault set.
//
//   KIND[=VALUE][@PHASE[:SKIP][xTIMES]]
//
// Reply faults (silence, short, bad-lrc, lower-case, nak, garbage, late[=MS], error=CLASS/STATE)
// name the phase whose replies they change; whole-controller faults (silent, run-mode,
// stay-in-application, boot-at-power-on, app-id=ID, boot-id=ID, d1386=N, d1148=N,
// version=MAJOR.MINOR, link-loss@block[:SKIP]) take no phase, link-loss excepted.
#pragma once

#include <string>
#include <string_view>

#include "sim/config.hpp"

namespace fwburn::sim::plcsim {

// The phase names of the grammar, one per Phase.
const char* PhaseToken(Phase phase);
const char* KindToken(FaultKind kind);

// Adds the fault that `text` describes to `faults`. Returns "" when it did, else what is wrong
// with the text (and `faults` is left as it was).
std::string ParseFault(std::string_view text, Faults& faults);

// The grammar as --help shows it.
std::string FaultGrammarHelp();

}  // namespace fwburn::sim::plcsim
