#pragma once
// The system-specific pieces behind the program folder (program_folder.cpp holds the
// rules); userProgramFolder() is declared in program_folder.hpp.

#include <filesystem>

namespace q70::system {

// The user may create files in `folder`.
bool folderIsWritable(const std::filesystem::path& folder);

// This process's id, to keep temporary file names of two running copies apart.
unsigned long currentProcessId();

}  // namespace q70::system
