#include "ui/console/info.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "burn/messages.hpp"
#include "catalogue/profile.hpp"
#include "link/posix/discovery.hpp"
#include "link/posix/posix_device.hpp"
#include "protocol/result_codes.hpp"
#include "ui/console/diagnosis.hpp"
#include "ui/console/fleet.hpp"
#include "ui/console/json_line.hpp"
#include "ui/console/outcome.hpp"
#include "ui/console/port_lock.hpp"
#include "ui/console/signals.hpp"

namespace fwburn::console {

namespace {

std::string Hex(unsigned value, int digits) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string ModeName(const InfoRow& row) {
    if (!row.opened) {
        return "not opened";
    }
    switch (row.report.mode) {
        case kApplicationMode:
            return "application";
        case kBootMode:
            return "bootloader";
        case kRunMode:
            return "run mode";
        case kNoAcceptableReply:
            return "no answer";
        default:
            return "error reply";
    }
}

std::string Version(uint8_t version) {
    return std::to_string(version >> 4) + "." + std::to_string(version & 0x0F);
}

const char* RegisterName(VariantRegister reg) {
    return reg == VariantRegister::D1386 ? "D1386" : reg == VariantRegister::D1148 ? "D1148" : "";
}

// Why the row's controller takes no update from this program, or what kept it from answering.
std::string Why(const InfoRow& row, int programRow) {
    if (!row.opened) {
        UpdateOutcome o;
        o.kind = OutcomeKind::PortNotOpened;
        const Explanation e = Explain(o, programRow, ThisBuildProfile().bootIdRule, row.denied);
        return row.openFailure + (e.text.empty() ? "" : "; " + e.text);
    }
    const ProbeReport& r = row.report;
    std::string why = r.why;
    if (!r.answered()) {
        switch (r.silence.finding) {
            case Finding::NoBytes:
                why += ": not one byte came back: check the cable, the PLC's power and the port";
                break;
            case Finding::OnlyEarlier:
                why += ": the wake-up was answered, the mode query never, at either address";
                break;
            case Finding::NoValidReply:
                why += ": " + std::to_string(r.silence.bytesReceived) +
                       " bytes came back, never a valid reply (last: \"" +
                       Printable(r.silence.sample, r.silence.sampleLength) +
                       "\"): check the line settings, or another device is on this port";
                break;
            default:
                break;
        }
    }
    return why;
}

int ProgramRow() {
    char model[10];
    ImageNameModel(ThisBuildProfile().imageName, model);
    return FindModelRow(model);
}

}  // namespace

int InfoExitCode(const InfoRow& row) {
    if (!row.opened) {
        return kExitPortFailed;
    }
    return row.report.answered() ? kExitSuccess : kExitCommFailed;
}

std::vector<std::string> InfoTable(const std::vector<InfoRow>& rows) {
    std::vector<std::vector<std::string>> cells = {
        {"PORT", "MODE", "MODEL", "ID", "VARIANT", "BOOTLOADER", "FITS"}};
    for (const InfoRow& row : rows) {
        const ProbeReport& r = row.report;
        std::string id = "-";
        if (row.opened && r.idRead) {
            id = Hex(r.id, 4);
        } else if (row.opened && r.bootIdRead) {
            id = "boot " + Hex(r.bootId, 4);
        }
        if (row.opened && r.otherAddress) {
            id += " @" + Hex(r.targetByte, 2);
        }
        const bool named = row.opened && (r.idRead || r.bootIdRead);
        cells.push_back(
            {row.port, ModeName(row), named ? (r.models[0] != '\0' ? r.models : "unknown") : "-",
             id,
             row.opened && r.variantRead
                 ? std::string(RegisterName(r.variantRegister)) + "=" + Hex(r.variantValue, 4)
                 : "-",
             row.opened && r.versionRead ? Version(r.version) : "-",
             row.opened && r.fits ? "yes" : "no"});
    }
    std::vector<size_t> widths(cells.front().size(), 0);
    for (const auto& line : cells) {
        for (size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], line[i].size());
        }
    }
    std::vector<std::string> lines;
    for (const auto& line : cells) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) {
                text += std::string(widths[i] - line[i].size() + 2, ' ');
            }
        }
        lines.push_back(text);
    }
    const int programRow = ProgramRow();
    for (const InfoRow& row : rows) {
        if (!row.opened || !row.report.fits) {
            // An open failure names its path already.
            lines.push_back((row.opened ? row.port + ": " : "") + Why(row, programRow));
        }
    }
    return lines;
}

std::string InfoJson(const InfoRow& row, const std::string& program, const std::string& model) {
    const ProbeReport& r = row.report;
    JsonLine line;
    line.Add("event", "info")
        .Add("program", program)
        .Add("model", model)
        .Add("standIn", ThisBuildProfile().standInImage)
        .Add("port", row.port);
    line.Add("opened", row.opened).Add("answered", row.opened && r.answered());
    line.Add("mode", ModeName(row));
    if (row.opened) {
        line.Add("address", Hex(r.targetByte, 2)).Add("otherAddress", r.otherAddress);
    }
    const auto idField = [&](const char* key, bool read, uint16_t id) {
        if (row.opened && read) {
            line.Add(key, static_cast<int>(id));
        } else {
            line.AddNull(key);
        }
    };
    idField("modelId", r.idRead, r.id);
    idField("bootId", r.bootIdRead, r.bootId);
    if (row.opened && (r.idRead || r.bootIdRead)) {
        line.Add("models", std::string(r.models));
    } else {
        line.AddNull("models");
    }
    if (row.opened && r.variantRead) {
        line.Add("variantRegister", RegisterName(r.variantRegister))
            .Add("variantValue", static_cast<int>(r.variantValue));
    } else {
        line.AddNull("variantRegister").AddNull("variantValue");
    }
    if (row.opened && r.versionRead) {
        line.Add("bootloaderVersion", Version(r.version));
    } else {
        line.AddNull("bootloaderVersion");
    }
    const bool fits = row.opened && r.fits;
    line.Add("fits", fits);
    if (fits) {
        line.AddNull("why");
    } else {
        line.Add("why", Why(row, ProgramRow()));
    }
    line.Add("exitCode", InfoExitCode(row));
    return line.Text();
}

namespace {

// The ports --info looks at: those given, every USB controller for --all, or the one an update
// would use.
std::vector<std::string> InfoPorts(const Options& options, bool usb) {
    std::vector<std::string> ports;
    for (const std::string& port : options.ports) {
        if (!port.empty()) {
            ports.push_back(port);
        }
    }
    if (!ports.empty()) {
        return ports;
    }
    if (options.all && usb) {
        for (const posix::UsbPort& port : posix::FindUsbControllers()) {
            ports.push_back(port.tty);
        }
        return ports;
    }
    const std::vector<std::string> found =
        usb ? posix::FindUsbControllerTtys() : posix::ListSerialPorts();
    if (!found.empty()) {
        ports.push_back(found.front());
    }
    return ports;
}

// The open devices, so that a signal can clear their exclusive flags before the process ends.
class OpenPorts {
  public:
    void Add(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.push_back(fd);
    }
    void Remove(int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
    }
    void ReleaseForExit() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const int fd : fds_) {
            ioctl(fd, TIOCNXCL);
            tcflush(fd, TCIOFLUSH);
        }
    }

  private:
    std::mutex mutex_;
    std::vector<int> fds_;
};

void ProbeOne(InfoRow& row, int programRow, OpenPorts& open) {
    posix::OpenFailure why;
    std::unique_ptr<posix::PosixDevice> device = posix::OpenSerialPort(row.port, &why);
    if (!device) {
        row.openFailure = why.message;
        row.denied = why.reason == posix::OpenError::kDenied;
        return;
    }
    row.opened = true;
    open.Add(device->fd());
    Figures figures;
    Progress progress(figures);
    Channel channel{*device, progress};
    row.report =
        Probe(channel, programRow, ThisBuildProfile().bootIdRule, TheEmbeddedImage().length);
    open.Remove(device->fd());
}

}  // namespace

int ShowInfo(const char* program, const Options& options, int row) {
    const bool usb = IsUsbLinked(row);
    if (options.all && !usb && options.ports.empty()) {
        std::fprintf(stderr,
                     "%s: --all finds controllers on the USB link; a %s is on a serial port: give "
                     "each with --port\n",
                     program, ModelName(row));
        return kExitUsage;
    }
    const std::vector<std::string> ports = InfoPorts(options, usb);
    if (ports.empty()) {
        std::fprintf(stderr, "%s: --info: no %s found%s\n", program,
                     usb ? "controller on the USB link" : "serial port", " (give one with --port)");
        return kExitPortFailed;
    }
    const int signalFd = TakeEndingSignals();
    std::vector<InfoRow> rows(ports.size());
    std::vector<std::unique_ptr<PortLock>> locks;
    OpenPorts open;
    std::vector<std::thread> probes;
    std::atomic<size_t> finished{0};
    for (size_t i = 0; i < ports.size(); ++i) {
        rows[i].port = ports[i];
        // An update of the same controller may be waiting for its replug, its port closed: a
        // probe then would talk to its bootloader in its place.
        auto lock = std::make_unique<PortLock>();
        if (lock->Take(UpdateIdentities(ports[i], usb, {}), LockDirectories()) !=
            PortLock::Status::kHeld) {
            rows[i].openFailure =
                ports[i] + ": " +
                (lock->busyFile().empty() ? "cannot lock the port: " + lock->why()
                                          : "an update of this PLC is running (process " +
                                                std::to_string(lock->holder()) + ")");
            ++finished;
            continue;
        }
        locks.push_back(std::move(lock));
        probes.emplace_back([&rows, i, row, &open, &finished] {
            ProbeOne(rows[i], row, open);
            ++finished;
        });
    }
    // The probes may take their time (a silent port: the mode query's six attempts); a signal
    // meanwhile ends the program at once, the ports left as an update leaves them.
    while (finished < ports.size()) {
        pollfd fd{signalFd, POLLIN, 0};
        if (signalFd >= 0 && poll(&fd, 1, 50) > 0) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                open.ReleaseForExit();
                std::fprintf(stderr, "%s: --info interrupted by %s\n", program,
                             EndingSignalName(static_cast<int>(info.ssi_signo)));
                for (auto& lock : locks) {
                    lock->Release();
                }
                _exit(ExitStatusForSignal(static_cast<int>(info.ssi_signo)));
            }
        } else if (signalFd < 0) {
            usleep(50 * 1000);
        }
    }
    for (std::thread& t : probes) {
        t.join();
    }
    for (auto& lock : locks) {
        lock->Release();
    }
    std::vector<int> codes;
    for (const InfoRow& r : rows) {
        codes.push_back(InfoExitCode(r));
    }
    if (options.json) {
        for (const InfoRow& r : rows) {
            std::fputs(InfoJson(r, program, ModelName(row)).c_str(), stdout);
        }
    } else {
        for (const std::string& line : InfoTable(rows)) {
            std::printf("%s\n", line.c_str());
        }
        if (ThisBuildProfile().standInImage) {
            std::printf(
                "This test build's image is a stand-in of random bytes, not a firmware: written "
                "into a PLC it leaves the PLC unusable.\n");
        }
    }
    std::fflush(stdout);
    return codes.size() == 1 ? codes.front() : WorstExitCode(codes);
}

}  // namespace fwburn::console
