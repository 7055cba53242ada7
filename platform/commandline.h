// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// What `mivra`'s own command line asks for, read before any display is opened: help and version
// print and end, an unknown option ends with a usage line, anything else runs the application
// (the options the toolkit itself takes are left to it).
struct CommandLine {
    bool run = true;
    int status = 0;  // when not running: 0 for help and version, 2 for wrong usage
    std::string out; // for standard output
    std::string err; // for standard error
};

CommandLine readCommandLine(int argc, const char* const* argv, const std::string& version);
