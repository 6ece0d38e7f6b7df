#pragma once
// q70ctl's command line: parses it and runs the command it names.

#include "cli/session.hpp"

namespace q70::cli {

// Everything main() does once the environment is set up; returns the exit code.
int run(int argc, const char* const* argv, Environment& env);

}  // namespace q70::cli
