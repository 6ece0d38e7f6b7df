#pragma once
// Writing the user's files: a file is replaced whole or not at all, and nothing but a
// regular file is ever replaced or removed.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace q70::config {

// What stands at a path the program is asked to write, symbolic links followed.
enum class PathKind { Missing, RegularFile, Folder, Device, Fifo, Socket, Other };

PathKind outputPathKind(std::string_view utf8Path);
// "a folder", "a device", "a FIFO", "a socket", "not a regular file"; empty for the two
// kinds that may be written.
std::string_view describePathKind(PathKind kind);

// Writes `bytes` to a temporary file in the target's folder and renames it over the
// target once it is complete, so that the target holds either its old content or the new
// one, never a part. A symbolic link is written through: the file it names is replaced
// and the link stays. A target that exists and is no regular file, or is read-only, is
// left alone. On failure no temporary file remains, and `error` (when given) says why.
bool writeFileWhole(std::string_view utf8Path, std::span<const std::uint8_t> bytes,
                    std::string* error = nullptr);

}  // namespace q70::config
