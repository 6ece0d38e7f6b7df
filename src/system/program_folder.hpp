#pragma once
// Where the program keeps its INI file, help file, Loc/ folder, log file and rawdata.bin.
//
// In a build tree (or any copy the user may write) that is the executable's own folder. An
// installed copy is shared by every user and must not change, so each user gets a folder of
// their own, $XDG_DATA_HOME/q70 (default ~/.local/share/q70), seeded from the installed files.

#include <string>
#include <string_view>

namespace q70::system {

// Installed beside the executables: their folder holds read-only master copies.
inline constexpr std::string_view kInstalledMarkerName = "q70-installed";

// The program folder for an executable living in `executableFolder`: that folder itself
// when it is a private, writable copy, otherwise the per-user folder, seeded first. Falls
// back to `executableFolder` when no per-user folder can be made (the program then runs
// on its built-in defaults and reports the log file it cannot open).
std::string resolveProgramFolder(const std::string& executableFolder);

// The pieces, for tests.

// True when `executableFolder` holds the marker or the user may not write to it.
bool isSharedFolder(const std::string& executableFolder);

// $XDG_DATA_HOME/q70 when XDG_DATA_HOME is an absolute path, else $HOME/.local/share/q70
// (HOME from the password database when unset); empty when no home is known.
std::string userProgramFolder();

// Creates `userFolder` and brings it up to date from `installedFolder`:
// - Loc/ mirrors the installed Loc/ (files added or replaced when their content differs,
//   so a package upgrade reaches the language files);
// - the active INI and help files are copied only when missing, so the user's language
//   stays; an active file that is an untouched copy of a language file that changed is
//   replaced by the new one.
// Returns false when the folder cannot be created or a file could not be copied.
bool seedProgramFolder(const std::string& installedFolder, const std::string& userFolder);

}  // namespace q70::system
