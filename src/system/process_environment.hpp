#pragma once
// What a front end asks of the operating system about its own process: where its
// executable lives, the local time, whether stderr is a terminal. One implementation per
// system (unix/, win32/).

#include <string>
#include <vector>

#include "link/protocol.hpp"

namespace q70::system {

// The folder holding the running executable, as UTF-8; the current folder when the
// system cannot say.
std::string executableFolder();

// The program's arguments as UTF-8 (on Windows from the wide command line: argv is in
// the ANSI code page there, which cannot hold every file name).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// stdout and stderr pass bytes through unchanged: the same output on every system, "\n"
// not "\r\n" (consoles start a new line on "\n" alone).
void useBinaryStandardStreams();

// The local wall-clock time now, to the minute.
link::DateTime localNow();

// stderr is a terminal (a console on Windows): the progress bar redraws itself in place
// only there.
bool stderrIsTerminal();

// A new, empty folder of our own under the system's temporary folder, its name starting
// with `prefix`; empty when none can be made. The caller removes it.
std::string makeTempFolder(const std::string& prefix);

}  // namespace q70::system
