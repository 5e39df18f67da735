// Turning bw-hub's options into a Scenario.
#include "tools/HubOptions.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <sstream>

#include "uart/Esp3.hpp"

namespace bw_sim::tool {

namespace {

using std::chrono::milliseconds;

// The time a hub's RTC holds by default: 2019-03-01 12:00:00 UTC.
constexpr const char* kDefaultRtcTime = "1551441600";
// A fresh chip refuses nothing but an address it does not have: EINVAL.
constexpr int kDefaultRefusal = EINVAL;

struct BadValue {
    std::string message;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

bool number(const std::string& text, long& out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    out = std::stol(text);
    return true;
}

// "name=value" -> name and value; no "=": the whole is the name, the value empty.
std::pair<std::string, std::string> keyValue(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return {text, ""};
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

long numberOr(const std::string& text, long fallback, const std::string& usage) {
    long value = 0;
    if (text.empty()) {
        return fallback;
    }
    if (!number(text, value)) {
        throw BadValue{usage};
    }
    return value;
}

// "90s", "5m", "1500ms"; a bare number is seconds.
bool duration(const std::string& text, milliseconds& out) {
    long value = 0;
    const std::size_t digits = text.find_first_not_of("0123456789");
    const std::string unit = digits == std::string::npos ? "s" : text.substr(digits);
    if (!number(text.substr(0, digits), value)) {
        return false;
    }
    const std::map<std::string, long> scale = {{"ms", 1}, {"s", 1000}, {"m", 60000}};
    const auto found = scale.find(unit);
    if (found == scale.end() || value == 0) {
        return false;
    }
    out = milliseconds(value * found->second);
    return true;
}

DeviceEntry deviceEntry(const std::string& text, const std::string& usage) {
    const auto [kind, value] = keyValue(text);
    if (text == "present") {
        return DeviceEntry::present();
    }
    if (text == "absent") {
        return DeviceEntry::absent();
    }
    long delay = 0;
    if (kind != "late" || !number(value, delay) || delay == 0) {
        throw BadValue{usage};
    }
    return DeviceEntry::after(milliseconds(delay));
}

Hook hook(const std::string& text, const std::string& usage) {
    long status = 0;
    if (text == "absent") {
        return Hook::absent();
    }
    if (text == "not-executable") {
        return Hook::file("#!/bin/sh\nexit 0\n", 0644);
    }
    if (!number(text, status) || status > 255) {
        throw BadValue{usage};
    }
    return Hook::runs(status == 0 ? Outcome::succeeds() : Outcome::fails(static_cast<int>(status)));
}

// "COMMAND LINE=K", "COMMAND LINE=always" or "COMMAND LINE" (always). One word stands for
// every run of that program.
void failure(Scenario& scenario, const std::string& text, const std::string& usage) {
    std::string command = text;
    Outcome outcome = Outcome::fails();
    const std::size_t equals = text.rfind('=');
    long times = 0;
    const std::string count = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (count == "always" || number(count, times)) {
        if (count != "always" && times == 0) {
            throw BadValue{usage};
        }
        command = text.substr(0, equals);
        outcome = count == "always" ? outcome : Outcome::failsTimes(static_cast<unsigned>(times));
    }
    if (command.empty() || command.front() == ' ' || command.back() == ' ') {
        throw BadValue{usage};
    }
    if (command.find(' ') == std::string::npos) {
        scenario.program(command, outcome);
    } else {
        scenario.command(command, outcome);
    }
}

void rtc(Scenario& scenario, const std::string& text, const std::string& usage) {
    const auto [state, value] = keyValue(text);
    if (state == "valid") {
        scenario.rtc(RtcClock::valid((value.empty() ? kDefaultRtcTime : value) + "\n"));
    } else if (state == "invalid" && value.empty()) {
        scenario.rtc(RtcClock::invalid());
    } else if (state == "unregistered") {
        const long delay = numberOr(value, 100, usage);
        scenario.rtc(RtcClock::unregistered())
            .rtcRegistration(RtcRegistration::appearsAfter(milliseconds(delay)));
    } else if (state == "no-chip" && value.empty()) {
        scenario.rtc(RtcClock::unregistered()).rtcRegistration(RtcRegistration::noDevice());
    } else if (state == "refused") {
        const long error = numberOr(value, kDefaultRefusal, usage);
        scenario.rtc(RtcClock::unregistered())
            .rtcRegistration(RtcRegistration::refused(static_cast<int>(error)));
    } else {
        throw BadValue{usage};
    }
}

// Bytes a noisy line carries before each answer: garbage with a false sync byte, then a
// radio telegram that nobody asked for.
uart::Bytes noise() {
    uart::Bytes bytes = {0x13, 0x55, 0x00, 0xFF, 0x42};
    const uart::Bytes telegram = uart::esp3::encode(uart::esp3::radioTelegram(
        0xF6, {0x50}, {0x01, 0x82, 0x3A, 0x7C}, {0xFF, 0xFF, 0xFF, 0xFF}, 0x2D));
    bytes.insert(bytes.end(), telegram.begin(), telegram.end());
    return bytes;
}

void enocean(Scenario& scenario, uart::Scenario& module, bool& present, const std::string& text,
             const std::string& usage) {
    for (const std::string& item : split(text, ',')) {
        const auto [name, value] = keyValue(item);
        long code = 0;
        if (item == "absent") {
            present = false;
        } else if (item == "ttyAMA0" || item == "ttyUSB0") {
            module.paths = {"/dev/" + item};
        } else if (item == "silent") {
            module.baseIdRequests.then.silent = true;
            module.telegrams.then.silent = true;
        } else if (item == "noisy") {
            module.baseIdRequests.then.before = noise();
            module.telegrams.then.before = noise();
        } else if (name == "rc" && number(value, code) && code <= 255) {
            module.telegrams.then.returnCode = static_cast<std::uint8_t>(code);
        } else {
            throw BadValue{usage};
        }
    }
    if (present) {
        scenario.enoceanModule(module);
    } else {
        scenario.noEnOceanModule();
    }
}

void interfaces(Scenario& scenario, const std::string& text, const std::string& usage) {
    // The list replaces the default hub's two interfaces.
    scenario.noInterface("eth0").noInterface("wlan0");
    if (text == "none") {
        return;
    }
    int others = 0;
    for (const std::string& item : split(text, ',')) {
        const auto [name, address] = keyValue(item);
        if (name.empty() || name.find('/') != std::string::npos || name == "none") {
            throw BadValue{usage};
        }
        const std::string standard = name == "eth0" ? "b8:27:eb:3c:4f:01\n"
                                     : name == "wlan0"
                                         ? "b8:27:eb:3c:4f:02\n"
                                         : "b8:27:eb:3c:4f:" + std::to_string(10 + others++) + "\n";
        const bool given = item.find('=') != std::string::npos;
        scenario.interface(name, given ? (address.empty() ? "" : address + "\n") : standard);
    }
}

void exported(Scenario& scenario, const std::string& text, const std::string& usage) {
    if (text == "none") {
        return;
    }
    for (const std::string& item : split(text, ',')) {
        const auto [line, value] = keyValue(item);
        long gpio = 0;
        const long level = numberOr(value, 0, usage);
        if (line == "leds" && value.empty()) {
            for (const unsigned led : {11U, 12U, 13U}) {
                scenario.exported(led, true, 0);
            }
        } else if (number(line, gpio) && gpio < 54 && level <= 1) {
            scenario.exported(static_cast<unsigned>(gpio), true, static_cast<int>(level));
        } else {
            throw BadValue{usage};
        }
    }
}

std::string checkProgram(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return "no program at " + path +
               " (build it with scripts/build, or name another program as the last argument)";
    }
    if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
        return path + " is not an executable file (chmod +x it, or name another program)";
    }
    return {};
}

}  // namespace

std::string parseOptions(const std::vector<std::string>& args, const std::string& defaultProgram,
                         ToolOptions& options) {
    Scenario& scenario = options.scenario;
    uart::Scenario module;
    bool modulePresent = true;
    using Handler = std::function<void(const std::string&, const std::string&)>;
    // Each option with a value: its usage (the values it takes) and what it does.
    const std::map<std::string, std::pair<std::string, Handler>> valued = {
        {"--model", {"ID", [&](auto& v, auto&) { scenario.model(v); }}},
        {"--marker",
         {"file, directory or absent",
          [&](auto& v, auto& usage) {
              if (v != "file" && v != "directory" && v != "absent") {
                  throw BadValue{usage};
              }
              scenario.firstBootMarker(v == "file"        ? Entry::file
                                       : v == "directory" ? Entry::directory
                                                          : Entry::absent);
          }}},
        {"--interfaces",
         {"a list of NAME or NAME=ADDRESS, or none",
          [&](auto& v, auto& usage) { interfaces(scenario, v, usage); }}},
        {"--rtc",
         {"valid[=SECONDS], invalid, unregistered[=MS], no-chip or refused[=ERRNO]",
          [&](auto& v, auto& usage) { rtc(scenario, v, usage); }}},
        {"--enocean",
         {"a list of absent, ttyAMA0, ttyUSB0, silent, noisy, rc=CODE",
          [&](auto& v, auto& usage) { enocean(scenario, module, modulePresent, v, usage); }}},
        {"--zwave",
         {"present, absent or late=MS",
          [&](auto& v, auto& usage) { scenario.zwave(deviceEntry(v, usage)); }}},
        {"--zigbee",
         {"present, absent or late=MS",
          [&](auto& v, auto& usage) { scenario.zigbee(deviceEntry(v, usage)); }}},
        {"--fail",
         {"'COMMAND LINE'[=TIMES|=always] or PROGRAM[=TIMES|=always]",
          [&](auto& v, auto& usage) { failure(scenario, v, usage); }}},
        {"--missing",
         {"PROGRAM",
          [&](auto& v, auto& usage) {
              if (v.empty() || v.find_first_of(" /") != std::string::npos) {
                  throw BadValue{usage};
              }
              scenario.missingProgram(v);
          }}},
        {"--pre-hook",
         {"absent, not-executable or an exit status",
          [&](auto& v, auto& usage) { scenario.preHook(hook(v, usage)); }}},
        {"--post-hook",
         {"absent, not-executable or an exit status",
          [&](auto& v, auto& usage) { scenario.postHook(hook(v, usage)); }}},
        {"--exported",
         {"leds, none, or a list of GPIO[=LEVEL]",
          [&](auto& v, auto& usage) { exported(scenario, v, usage); }}},
        {"--permission-delay",
         {"MS",
          [&](auto& v, auto& usage) {
              long delay = 0;
              if (!number(v, delay)) {
                  throw BadValue{usage};
              }
              scenario.directionDeniedAfterExport(milliseconds(delay));
          }}},
        {"--limit",
         {"a duration such as 90s, 5m or 1500ms",
          [&](auto& v, auto& usage) {
              if (!duration(v, options.limit)) {
                  throw BadValue{usage};
              }
          }}},
        {"--transcript",
         {"DIRECTORY",
          [&](auto& v, auto& usage) {
              if (v.empty()) {
                  throw BadValue{usage};
              }
              options.transcript = v;
          }}},
        {"--hold",
         {"a duration such as 90s, 5m or 1500ms",
          [&](auto& v, auto& usage) {
              if (!duration(v, options.hold)) {
                  throw BadValue{usage};
              }
          }}},
        {"--console",
         {"PATH",
          [&](auto& v, auto& usage) {
              if (v.empty()) {
                  throw BadValue{usage};
              }
              options.console = v;
          }}},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--no-model-file", [&] { scenario.noModelFile(); }},
        {"--normal-boot", [&] { scenario.firstBoot(false); }},
        {"--certificate", [&] { scenario.certificate(true); }},
        {"--no-key", [&] { scenario.registrationKey(false); }},
        {"--keepssh", [&] { scenario.keepSsh(true); }},
        {"--no-color", [&] { options.noColor = true; }},
        {"--help", [&] { options.help = true; }},
        {"-h", [&] { options.help = true; }},
    };
    options.program = defaultProgram;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto [name, inlineValue] = keyValue(args[i]);
        const bool hasInline = args[i].find('=') != std::string::npos;
        if (const auto flag = flags.find(args[i]); flag != flags.end()) {
            flag->second();
            continue;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) {
            if (args[i].rfind('-', 0) == 0) {
                return "unknown option " + args[i] + " (bw-hub --help lists the options)";
            }
            if (i + 1 != args.size()) {
                return "the program to run comes last; " + args[i + 1] + " follows " + args[i];
            }
            options.program = args[i];
            continue;
        }
        if (!hasInline && i + 1 == args.size()) {
            return name + " needs a value: " + option->second.first;
        }
        const std::string value = hasInline ? inlineValue : args[++i];
        try {
            option->second.second(value, option->second.first);
        } catch (const BadValue& bad) {
            return std::string("bad value '")
                .append(value)
                .append("' for ")
                .append(name)
                .append(": use ")
                .append(bad.message);
        }
    }
    return options.help ? std::string() : checkProgram(options.program);
}

std::string helpText(const std::string& defaultProgram) {
    return "usage: bw-hub [OPTION]... [PROGRAM]\n"
           "       scripts/hub [OPTION]... [PROGRAM]   (builds what is needed first)\n"
           "\n"
           "Runs PROGRAM (by default " +
           defaultProgram +
           ")\n"
           "unmodified, with no arguments and no environment, in a simulated hub, and shows live\n"
           "what it prints (out: standard output, err: standard error), the three front LEDs\n"
           "each time it writes one of their value files, and every outside command as it\n"
           "starts and ends. Once the program waits for termination: a summary, SIGTERM, exit 0.\n"
           "Nothing reaches the real system. The default hub is a prism-1v1-eu on its first\n"
           "boot on which everything works; each option changes one thing.\n"
           "\n"
           "The hub's files\n"
           "  --model ID            the model file holds ID (any text, unsupported ids too);\n"
           "                        --model crate-1v0-b-eu, --model prism-1v0-eu, --model toaster\n"
           "  --no-model-file       no model file at all\n"
           "  --marker KIND         the first-boot marker: file (default), directory, absent\n"
           "  --normal-boot         the same as --marker absent: a hub that has passed before\n"
           "  --certificate         the cloud certificate is there (the factory tool is skipped)\n"
           "  --no-key              no registration key file\n"
           "  --keepssh             the .keepssh marker is there (SSH stays as it is)\n"
           "  --pre-hook HOOK       the site pre-hook: absent (default), an exit status such as\n"
           "  --post-hook HOOK      0 or 3, or not-executable (a script without the x bit);\n"
           "                        --pre-hook 0, --post-hook 2\n"
           "\n"
           "sysfs and /dev\n"
           "  --interfaces LIST     the network interfaces that exist (default eth0,wlan0), each\n"
           "                        NAME or NAME=ADDRESS-FILE-CONTENT, or none;\n"
           "                        --interfaces wlan0, --interfaces eth0=, --interfaces none\n"
           "  --rtc STATE           valid[=SECONDS] (default, 1551441600), invalid (no valid\n"
           "                        time until hwclock -w sets it), unregistered[=MS] (the chip\n"
           "                        appears MS, default 100, after its registration), no-chip\n"
           "                        (registration accepted, nothing appears: the program waits\n"
           "                        3 minutes for /dev/rtc0), refused[=ERRNO] (the registration\n"
           "                        write fails, default EINVAL 22); --rtc valid=0, --rtc "
           "refused=13\n"
           "  --enocean LIST        the EnOcean module: absent, ttyAMA0 (default) or ttyUSB0,\n"
           "                        silent (answers nothing), noisy (garbage and a stray telegram\n"
           "                        before each answer), rc=CODE (the test telegram's return\n"
           "                        code); --enocean ttyUSB0,noisy. A failing step is retried\n"
           "                        with 7 s pauses: an absent or silent module takes ~30 s.\n"
           "                        Only the prism 1v0 models test it.\n"
           "  --zwave ENTRY         /dev/brambleway/Z-Wave: present (default), absent, late=MS\n"
           "  --zigbee ENTRY        /dev/brambleway/Zigbee, the same; an absent entry is waited\n"
           "                        for 3 x 60 s: --zwave absent makes the run about 3 minutes\n"
           "  --exported LIST       GPIOs exported as outputs before the start: leds (11, 12\n"
           "                        and 13), none (default), or GPIO[=LEVEL]; --exported 11=1,12\n"
           "  --permission-delay MS direction writes are refused for MS after an export, as\n"
           "                        until udev has fixed the permissions; --permission-delay 50\n"
           "\n"
           "Outside commands (fakes that log each run)\n"
           "  --fail WHAT[=TIMES]   WHAT fails (exit 1) TIMES times, then succeeds; always when\n"
           "                        no TIMES or =always. WHAT is a whole command line or one\n"
           "                        program name (every run of it). Failed commands are retried\n"
           "                        after 5 s pauses: --fail bw-zw-flash adds about 15 s.\n"
           "                        --fail 'bw-drop bw-selftest factory-tool'=2, --fail hwclock\n"
           "  --missing PROGRAM     PROGRAM is not installed (the shell answers 127)\n"
           "\n"
           "Watching\n"
           "  --limit DURATION      fail when the program has not reached its wait by then\n"
           "                        (default 10m); --limit 30s, --limit 1500ms\n"
           "  --transcript DIR      also write DIR/stdout and DIR/stderr (exactly what the\n"
           "                        program wrote), DIR/commands.txt, DIR/leds.txt, DIR/files.txt\n"
           "  --console PATH        also a serial console for a station: standard output and\n"
           "                        error as one stream (LF sent as CR LF) after a few boot\n"
           "                        loader and kernel lines, on a pseudo-terminal that PATH\n"
           "                        links to from before the start until the end of the run\n"
           "  --hold DURATION       once the program waits, leave it waiting that long before\n"
           "                        SIGTERM, as a hub left on the line stays on; --hold 15s\n"
           "  --no-color            no colour even on a terminal (none when piped, or with\n"
           "                        NO_COLOR set, or TERM=dumb)\n"
           "  -h, --help            this text\n"
           "\n"
           "Waits of the program (retry pauses, entry waits) run in real time.\n"
           "\n"
           "Exit status: 0 the program reached its wait and SIGTERM ended it; 1 it crashed,\n"
           "exited by itself, did not reach its wait within --limit, or outlived SIGTERM;\n"
           "2 a bad command line or program; 3 no hub can be simulated on this machine.\n"
           "\n"
           "Examples\n"
           "  bw-hub                                  a passing first boot of prism-1v1-eu\n"
           "  bw-hub --fail bw-zw-flash               the Z-Wave tool always fails\n"
           "  bw-hub --rtc unregistered               the RTC is registered by the program\n"
           "  bw-hub --model crate-1v0-b-eu           the crate hub: no LEDs, a poweroff\n"
           "  bw-hub --normal-boot                    an ordinary boot: all three LEDs on\n"
           "  bw-hub --transcript /tmp/run build/src/Main/bw-selftest\n";
}

}  // namespace bw_sim::tool
