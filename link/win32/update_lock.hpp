// One update per controller on Windows. A COM port is opened exclusively, but the worker closes it
// for the replug or power-cycle prompt, and the controller's USB device is opened shared: another
// updater started meanwhile, a window or a console, would take the same controller. So each
// update holds named mutexes for its whole length, prompts included, one per identity (its COM
// port, the controller's device instance, the USB link), in the global namespace where every
// updater of every session looks. Windows releases a mutex whose holder ended however it ended (an
// abandoned mutex is taken as free). The holder publishes its process id and program name beside
// it, so that a refused updater can say who holds the controller.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwburn {

class UpdateLock {
  public:
    enum class Status { kHeld, kBusy, kFailed };
    // kShared: held by any number of updates at once; it keeps out only an exclusive holder (the
    // USB link, which updates of one pinned controller each share and an update that takes any
    // controller holds alone).
    enum class Mode { kExclusive, kShared };

    UpdateLock() = default;
    ~UpdateLock() { Release(); }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    // Takes every identity or none; a refused updater is told this program's file name and
    // process id. A mutex belongs to the thread that took it: Take and Release on one thread.
    Status Take(const std::vector<std::string>& identities, Mode mode);
    void Release();

    // After kBusy: the identity held elsewhere and who holds it (0 and empty when it did not
    // say); after kFailed: why.
    const std::string& busyIdentity() const { return busyIdentity_; }
    DWORD holderProcess() const { return holderProcess_; }
    const std::string& holderProgram() const { return holderProgram_; }
    const std::string& why() const { return why_; }
    // The words for a refused update: "<what>: in use by another fwburn program (process
    // 1234, fwburn-cpu.exe)", or why the lock could not be taken.
    std::string Refusal(const std::string& what) const;

  private:
    struct Held {
        std::string name;  // also the key of this process's own list
        HANDLE mutex;
        HANDLE holder;  // the published holder, or null
        bool shared;
    };
    Status TakeOne(const std::string& identity, Mode mode);
    Status Busy(const std::string& identity, const std::string& name);

    std::vector<Held> held_;
    std::string busyIdentity_;
    DWORD holderProcess_ = 0;
    std::string holderProgram_;
    std::string why_;
};

}  // namespace fwburn
