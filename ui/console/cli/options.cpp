#include "ui/console/cli/options.hpp"

#include <CLI/CLI.hpp>
#include <set>
#include <utility>

#include "ui/console/cli/platform.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// The refusal names what was typed: escaped, so that an argument's control bytes (pasted, or
// from a script) reach the terminal as text instead of retitling or clearing it.
std::string UsageError(const std::string& program, const std::string& what) {
    return program + ": " + Shown(what) + "\nRun with --help for more information.\n";
}

// The parser's own words where they would puzzle a person; its other refusals stand as they are.
std::string Reworded(const CLI::ParseError& e, const CLI::App& app) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        std::string extras;
        for (const std::string& extra : app.remaining()) {  // as typed, not as parsed
            extras += (extras.empty() ? "" : " ") + extra;
        }
        return "not an option or an option's value: " + extras;
    }
    if (const size_t at = what.find(" was given a disallowed flag override");
        at != std::string::npos) {
        return "--" + what.substr(0, at) + " takes no value";
    }
    if (const size_t at = what.find(": At Most 1 required"); at != std::string::npos) {
        return what.substr(0, at) + " is given more than once";
    }
    return what;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::string& program, const std::string& model,
                                   const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    CLI::App app("Writes the firmware image built into this program into a " + model +
                     " controller.\nWithout options it runs one update on the discovered port.",
                 program);
    // "--yes=no" would quietly turn a flag off: flags take no value.
    app.option_defaults()->always_capture_default(false)->disable_flag_override();
    app.get_formatter()->column_width(22);

    // One path per --port: "--port a b" leaves "b" a stray argument, as it was.
    app.add_option("--port", o.ports,
                   "Device to use; once per controller for several at once (default: the "
                   "controller's USB tty, or the first serial port)")
        ->type_name("PATH")
        ->allow_extra_args(false);
    app.add_flag("--all", o.all, "Update every attached controller of this program's USB link");
    app.add_flag("--list-ports", o.listPorts, "List the ports this program would use");
    app.add_flag("--info", o.info,
                 "Look at each controller without changing anything: mode, model, variant, "
                 "bootloader version, whether this program's image fits it");
    app.add_flag("-y,--yes", o.yes,
                 "Answer reconnect prompts at once; give up after 3 update requests "
                 "that left the PLC in its application");
    app.add_option("--extract-image", o.extractImage, "Write the built-in image to FILE")
        ->type_name("FILE");
    app.add_flag("--version", o.version, "Show the version and the built-in image");
    app.add_option(
           "--trace", o.trace,
           "Record every byte and setting on the link to FILE, for field support (an update, "
           "or --info of one controller)")
        ->type_name("FILE");
    app.add_flag("--allow-stand-in", o.allowStandIn,
                 "A test build only: write its stand-in image (random bytes, not a firmware) "
                 "into a simulated or test controller");
    app.add_flag("--json", o.json,
                 "One JSON object per line on stdout: phases, progress, retries, prompts, outcome");

    app.footer(
        "Exit status: 0 success, 1 --extract-image could not write, or unexpected failure,\n"
        "2 usage error, 3 image refused, 4 port cannot be opened or in use,\n"
        "5 controller refused or wrong, 6 communication failed before erasing,\n"
        "7 failed after erasing began (update again), 8 cancelled or given up,\n" +
        std::string(EndingStatuses()));

    // The parser reads "--trace=" as a bare "--trace" and takes the next argument for its value:
    // "--trace= --allow-stand-in" would trace into a file of that name and drop the flag.
    for (const std::string& argument : arguments) {
        if (argument.size() > 3 && argument.compare(0, 2, "--") == 0 && argument.back() == '=') {
            parsed.error = UsageError(
                program, argument.substr(0, argument.size() - 1) + " needs a value after '='");
            parsed.exitCode = kExitUsage;
            return parsed;
        }
        if (argument == "--") {
            break;
        }
    }
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.output = app.help();
        parsed.exitCode = kExitSuccess;
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.error = UsageError(program, Reworded(e, app));
        parsed.exitCode = kExitUsage;
        return parsed;
    }
    // Checked here rather than by the parser, whose help would list every exclusion.
    const int actions =
        int{o.listPorts} + int{o.version} + int{o.info} + int{app.count("--extract-image") > 0};
    std::string wrong;
    if (actions > 1) {
        wrong = "use only one of --list-ports, --info, --version and --extract-image";
    } else if (o.all && !o.ports.empty()) {
        wrong = "use either --port or --all";
    } else if (o.all && (o.version || app.count("--extract-image") > 0)) {
        wrong =
            "--all goes with an update, --info or --list-ports, not with --version or "
            "--extract-image";
    } else if (app.count("--trace") > 0 && actions > int{o.info}) {
        // Not taken silently: a person asking for a trace would send an empty file to support.
        wrong =
            "--trace records an update or --info, not --list-ports, --version or --extract-image";
    } else if (app.count("--trace") > 0 && (o.all || o.ports.size() > 1)) {
        wrong = "--trace records one controller: give one --port";
    } else if (app.count("--trace") > 0 && o.trace.empty()) {
        wrong = "--trace needs a file name";
    } else if (app.count("--extract-image") > 0 && o.extractImage.empty()) {
        wrong = "--extract-image needs a file name";
    }
    // The parser also takes "--port --yes" as a port named "--yes": a value that looks like an
    // option is refused, and a file of such a name is still reachable as "./-name".
    std::vector<std::pair<const char*, const std::string*>> values;
    for (const std::string& port : o.ports) {
        values.emplace_back("--port", &port);
    }
    values.emplace_back("--trace", &o.trace);
    values.emplace_back("--extract-image", &o.extractImage);
    for (const auto& [name, value] : values) {
        if (wrong.empty() && !value->empty() && (*value)[0] == '-') {
            wrong = std::string(name) + " needs a value, not '" + *value +
                    "' (a file of that name: ./" + *value + ")";
        }
    }
    // Two runs on one controller would fight over it: the second would fail on the lock.
    std::set<std::string> given;
    for (const std::string& port : o.ports) {
        if (wrong.empty() && port.empty()) {
            wrong = "--port needs a path";
        } else if (wrong.empty() && !given.insert(port).second) {
            wrong = "--port " + port + " is given twice";
        }
    }
    if (!wrong.empty()) {
        parsed.error = UsageError(program, wrong);
        parsed.exitCode = kExitUsage;
        return parsed;
    }
    parsed.run = true;
    return parsed;
}

}  // namespace fwburn::console
