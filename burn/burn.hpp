// The burn worker: one firmware update from the Start command to its one final message.
#pragma once

#include "burn/operator.hpp"
#include "catalogue/profile.hpp"

namespace fwburn {

struct BurnJob {
    Operator* op = nullptr;
    EmbeddedImage image{nullptr, 0};    // captured once, at the worker's start
    const char* imageSha256 = nullptr;  // the digest the build recorded for that image
};

// Runs one update on the calling thread (the window and the console start it on a thread of its
// own). The starter claims the one-worker flag (TryClaimWorker) before; StartBurn releases it as
// its very last step. Returns 0.
int StartBurn(const BurnJob& job);

// The job of this build: its embedded image and recorded digest.
BurnJob ThisBuildJob(Operator& op);

}  // namespace fwburn
