// plcsim: one simulated Korvan controller served on a pseudo-terminal, for the console updaters,
// the Windows programs under Wine and the demo.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/controller.hpp"
#include "sim/models.hpp"
#include "sim/plcsim/fault_grammar.hpp"
#include "sim/plcsim/pty_server.hpp"
#include "sim/plcsim/summary.hpp"

namespace {

using fwburn::sim::plcsim::FaultGrammarHelp;

constexpr int kExitViolations = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;
constexpr size_t kViolationsShown = 50;

// The image lengths of the two delivered build profiles.
std::optional<uint32_t> DefaultImageLength(const std::string& model) {
    if (model == "ZL500") {
        return 2076672;
    }
    if (model == "ZL500-AIO") {
        return 11056;
    }
    return std::nullopt;
}

std::string ModelNames() {
    std::string names;
    for (const auto& m : fwburn::sim::Models()) {
        names += (names.empty() ? "" : ", ") + std::string(m.name);
    }
    return names;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

// Points `path` at the slave; an old symbolic link there (a plcsim that was killed) is replaced
// in one step, anything else is left alone.
std::string MakeLink(const std::string& path, const std::string& target) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        return path + " exists and is not a symbolic link";
    }
    const std::string temp = path + ".plcsim-" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        const std::string e = std::strerror(errno);
        unlink(temp.c_str());
        return path + ": " + e;
    }
    return "";
}

// Only our own link: another plcsim may have taken the name over meanwhile.
void RemoveLink(const std::string& path, const std::string& target) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) {
        unlink(path.c_str());
    }
}

const char* const kFooter =
    "\n"
    "Reconnects: a host that closes the port while the controller waits for a USB replug or a\n"
    "power cycle (or while its link is lost) stands for the operator; SIGUSR1 replugs and\n"
    "SIGUSR2 power-cycles by hand. SIGINT, SIGTERM and SIGHUP end the run.\n"
    "With --tty, which shows no host's close, the operator acts --reconnect-after MS after the\n"
    "controller began to wait; with --udc-file a replug, a power cycle, a USB model's restart\n"
    "into its bootloader and a lost link unbind the gadget from its UDC (the host sees the\n"
    "cable pulled), and all but the lost link bind it again; --no-auto-reconnect then pulls\n"
    "the cable at the replug prompt and leaves it out until SIGUSR1.\n"
    "\n"
    "--exit-after-update ends the run when a host that wrote something closes the port,\n"
    "after an update that failed or not (a close for a reconnect does not count), or 1 s\n"
    "after a complete transfer's last ACK went out to a host that keeps the port open.\n"
    "\n"
    "Output: the first line on stdout names the port (\"plcsim: MODEL on /dev/pts/N\"); the\n"
    "summary goes to stderr at exit. --flash-out writes the image bytes the blocks carried, in\n"
    "order, without the fill of the last block (ZL600, ZL500, RV6 and FYB-W never get the\n"
    "image's last 4096 bytes). Exit status: 0, 1 when the host broke a protocol rule "
    "(violations),\n"
    "2 usage error, 3 the pseudo-terminal or an output file failed.\n";

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);

    CLI::App app{"plcsim: a simulated Korvan controller on a pseudo-terminal", "plcsim"};
    std::string model = "ZL500";
    uint32_t imageLength = 0;
    std::string imagePath;
    std::vector<std::string> faultTexts;
    std::string linkPath;
    std::string flashOut;
    std::string summaryJson;
    bool listModels = false;
    fwburn::sim::plcsim::ServeOptions serve;
    bool noAutoReconnect = false;
    bool instant = false;
    int64_t reconnectAfterMs = -1;

    app.add_option("--model", model, "Controller model, exact catalogue name")
        ->capture_default_str();
    auto* lengthOption = app.add_option(
        "--image-length", imageLength,
        "Length of the image the host will send (default for ZL500 2076672, ZL500-AIO 11056)");
    auto* imageOption =
        app.add_option("--image", imagePath, "Image file: its length, and flash = image check")
            ->check(CLI::ExistingFile);
    lengthOption->excludes(imageOption);
    app.add_option("--fault", faultTexts, "Fault to inject, repeatable (grammar below)")
        ->type_name("FAULT");
    app.add_flag("--wire", serve.wire,
                 "Wire speed: every byte takes its line time at the pty's baud rate, both ways");
    app.add_flag("--instant", instant,
                 "The controller answers at once even with --wire: the line alone sets the pace");
    app.add_option("--link", linkPath, "Also make a symbolic link PATH to the port")
        ->type_name("PATH");
    app.add_flag("--no-auto-reconnect", noAutoReconnect,
                 "A host's close is no replug or power cycle; use SIGUSR1 / SIGUSR2");
    auto* ttyOption =
        app.add_option("--tty", serve.ttyPath,
                       "Serve this existing tty (a USB gadget's /dev/ttyGS0) instead of a new "
                       "pseudo-terminal")
            ->type_name("PATH");
    app.add_option("--udc-file", serve.udcFile,
                   "The gadget's UDC file in configfs: replugs, power cycles, restarts and a lost "
                   "link unbind and rebind it")
        ->type_name("PATH")
        ->needs(ttyOption);
    auto* reconnectOption =
        app.add_option("--reconnect-after", reconnectAfterMs,
                       "The operator replugs or power-cycles MS after the controller began to "
                       "wait for it (default with --tty 1000; else at the host's close)")
            ->type_name("MS")
            ->check(CLI::Range(int64_t{0}, int64_t{3600000}));
    app.add_flag("--exit-after-update", serve.exitAfterUpdate, "Exit when one update is over");
    app.add_option("--flash-out", flashOut, "Write the received image bytes to FILE at exit")
        ->type_name("FILE");
    app.add_option("--summary-json", summaryJson, "Write the summary as JSON to FILE at exit")
        ->type_name("FILE");
    app.add_flag("--list-models", listModels, "Print the model names and exit");
    app.add_flag("-v,--verbose", serve.verbose, "Log opens, closes, reconnects and states");
    app.footer(std::string(kFooter) + "\n" + FaultGrammarHelp());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }
    serve.autoReconnect = !noAutoReconnect;
    // Nobody closes a tty for the operator: on one, the operator acts after a while.
    serve.reconnectAfterMs =
        reconnectOption->count() > 0 ? reconnectAfterMs : (serve.ttyPath.empty() ? -1 : 1000);

    if (listModels) {
        for (const auto& m : fwburn::sim::Models()) {
            std::printf("%s\n", std::string(m.name).c_str());
        }
        return 0;
    }
    const auto usage = [](const std::string& text) {
        std::fprintf(stderr, "plcsim: %s\n", text.c_str());
        return kExitUsage;
    };
    if (fwburn::sim::FindModel(model) == nullptr) {
        return usage("no model is named \"" + model + "\"; models: " + ModelNames());
    }
    std::vector<uint8_t> image;
    if (!imagePath.empty()) {
        if (!ReadFile(imagePath, image) || image.size() > UINT32_MAX) {
            return usage("cannot read the image " + imagePath);
        }
        imageLength = static_cast<uint32_t>(image.size());
    } else if (lengthOption->count() == 0) {
        const auto length = DefaultImageLength(model);
        if (!length) {
            return usage("give --image-length or --image for " + model);
        }
        imageLength = *length;
    }

    fwburn::sim::Config config;
    config.model = model;
    config.imageLength = imageLength;
    // A pty keeps the baud rate a host sets but shows every line as 8N1.
    config.lineCheck = fwburn::sim::LineCheck::kBaudOnly;
    if (!serve.wire || instant) {
        // Without wire timing the controller answers at once: the demo and the tests measure the
        // host, not a controller's flash. --instant keeps that with wire timing, so that a run is
        // bounded by the line alone. A restart into the bootloader keeps its time.
        config.timing.replyMs = 0;
        config.timing.eraseStepMs = 0;
        config.timing.blockWriteMs = 0;
    }
    for (const std::string& text : faultTexts) {
        if (const std::string e = fwburn::sim::plcsim::ParseFault(text, config.faults);
            !e.empty()) {
            return usage("--fault " + text + ": " + e);
        }
    }
    std::optional<fwburn::sim::Controller> controller;
    try {
        controller.emplace(config);
    } catch (const std::invalid_argument& e) {
        return usage(e.what());
    }

    if (serve.wire && !serve.ttyPath.empty()) {
        return usage("--wire needs a pseudo-terminal: a tty has its own line time");
    }
    fwburn::sim::plcsim::PtyServer server(*controller, serve);
    if (const std::string e = server.Open(); !e.empty()) {
        std::fprintf(stderr, "plcsim: %s\n", e.c_str());
        return kExitFailed;
    }
    if (!linkPath.empty()) {
        if (const std::string e = MakeLink(linkPath, server.slavePath()); !e.empty()) {
            std::fprintf(stderr, "plcsim: --link %s\n", e.c_str());
            return kExitFailed;
        }
    }
    std::printf("plcsim: %s on %s\n", model.c_str(), server.slavePath().c_str());
    std::fflush(stdout);

    const std::string failure = server.Run();
    if (!linkPath.empty()) {
        RemoveLink(linkPath, server.slavePath());
    }

    int status = controller->violationCount() > 0 ? kExitViolations : 0;
    if (!failure.empty()) {
        std::fprintf(stderr, "plcsim: %s\n", failure.c_str());
        status = kExitFailed;
    }
    const std::vector<uint8_t> received = fwburn::sim::plcsim::ReceivedImage(*controller);
    std::optional<bool> imageMatch;
    if (!imagePath.empty()) {
        const size_t sent = controller->expected().sentBytes;
        imageMatch =
            received.size() == sent && std::equal(received.begin(), received.end(), image.begin());
    }
    std::fputs(
        fwburn::sim::plcsim::SummaryText(*controller, server.facts(), imageMatch, kViolationsShown)
            .c_str(),
        stderr);
    if (!summaryJson.empty() &&
        !WriteFile(summaryJson,
                   fwburn::sim::plcsim::SummaryJson(*controller, server.facts(), imageMatch))) {
        std::fprintf(stderr, "plcsim: cannot write %s\n", summaryJson.c_str());
        status = kExitFailed;
    }
    if (!flashOut.empty() && !WriteFile(flashOut, std::string(received.begin(), received.end()))) {
        std::fprintf(stderr, "plcsim: cannot write %s\n", flashOut.c_str());
        status = kExitFailed;
    }
    return status;
}
