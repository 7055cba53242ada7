// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/commandline.h"

#include <set>

namespace {
// The toolkit's own options: those followed by a value, and those standing alone.
const std::set<std::string> withValue{
    "platform",     "platformpluginpath", "platformtheme", "plugin",     "qwindowgeometry",
    "qwindowtitle", "qwindowicon",        "style",         "stylesheet", "session",
    "display",      "geometry",           "title",         "name",       "visual"};
const std::set<std::string> alone{"reverse", "widgetcount", "sync", "nograb", "dograb", "ncols", "cmap"};

std::string usageLine() {
    return "Usage: mivra [--help] [--version]\n";
}
} // namespace

CommandLine readCommandLine(int argc, const char* const* argv, const std::string& version) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return {false,
                    0,
                    usageLine() +
                        "\nMivra, a tray focus timer that closes off distractions while a take rolls.\n"
                        "It runs in the tray; a second start shows the running Mivra's popover.\n\n"
                        "  -h, --help     print this help and exit\n"
                        "  -v, --version  print the version and exit\n\n"
                        "mivractl drives a running Mivra from a shell (see mivractl --help).\n",
                    {}};
        }
        if (arg == "--version" || arg == "-v") return {false, 0, "mivra " + version + "\n", {}};
        if (arg.size() > 1 && arg[0] == '-') {
            std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
            const auto eq = name.find('=');
            if (eq != std::string::npos) name.resize(eq);
            if (alone.count(name) || name.rfind("qmljsdebugger", 0) == 0) continue;
            if (withValue.count(name)) {
                if (eq == std::string::npos) ++i;
                continue;
            }
        }
        return {false, 2, {}, "mivra: unknown option: " + arg + "\n" + usageLine()};
    }
    return {};
}
