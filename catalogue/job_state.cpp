#include "catalogue/job_state.hpp"

#include <cstring>

#include "catalogue/catalogue.hpp"

namespace fwburn {

void ShortText::Set(const char* text) {
    char copy[kSize] = {};
    if (text != nullptr) {
        for (int i = 0; i < kSize - 1 && text[i] != '\0'; ++i) {
            copy[i] = text[i];
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(text_, copy, kSize);
}

void ShortText::CopyTo(char (&out)[kSize]) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(out, text_, kSize);
}

ShortText selectedPLC;
Relaxed<int32_t> selectedPLCIdx{0};
Relaxed<uint16_t> selectedPLCID{0};
ShortText selectedComPort;
int32_t ComSelidx = 0;
int32_t totalComPort = 0;

const void* hGLOBAL = nullptr;
const uint8_t* fin = nullptr;
JobImage jobImage;
Relaxed<uint32_t> fileLength{0};
uint8_t ZL_fu_version = 0;
ParamStruct paramStruct;

Relaxed<int32_t> flashStatus{0};
Relaxed<int32_t> progress{0};
Relaxed<int32_t> errCounter{0};
Relaxed<int32_t> totalErrCounter{0};
Relaxed<int32_t> elapsedTime{0};

namespace {
std::atomic<bool> workerRunning{false};
}

bool TryClaimWorker() {
    bool expected = false;
    return workerRunning.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
}

void ReleaseWorker() {
    workerRunning.store(false, std::memory_order_release);
}

bool WorkerRunning() {
    return workerRunning.load(std::memory_order_acquire);
}

bool SelectModelRow(int row) {
    if (row < 0 || row >= kModelCount) {
        return false;
    }
    selectedPLCIdx = row;
    selectedPLCID = plcID[row];
    return true;
}

void ResetJobState() {
    selectedPLC.Clear();
    selectedPLCIdx = 0;
    selectedPLCID = 0;
    selectedComPort.Clear();
    ComSelidx = 0;
    totalComPort = 0;
    hGLOBAL = nullptr;
    fin = nullptr;
    jobImage = JobImage{};
    fileLength = 0;
    ZL_fu_version = 0;
    paramStruct = ParamStruct{};
    flashStatus = 0;
    progress = 0;
    errCounter = 0;
    totalErrCounter = 0;
    elapsedTime = 0;
    ReleaseWorker();
}

}  // namespace fwburn
