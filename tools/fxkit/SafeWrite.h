// Writing an output file without ever losing what was there: the bytes go to a temporary file
// in the target's directory, which is renamed over the target only when complete (and flushed
// to disk first when it replaces a file). A full disk, a file-size limit or an interrupt removes the temporary file and leaves
// an existing target untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace fxcli {

// Writes `bytes` to `path`; "-" writes them to standard output in one go. A symbolic link is
// written through (its target is replaced); an existing target that is not a regular file (a
// device, a pipe) is written directly. A replaced file keeps its permission bits; a new one gets
// 0666 less the umask. `cancelled` is asked between chunks: when it answers true the temporary
// file is removed and Interrupted is thrown. Failures throw UsageError("<path>: cannot write:
// <reason>").
void WriteFileSafely(const std::string& path, const std::vector<uint8_t>& bytes,
                     const std::function<bool()>& cancelled = {});
// The same for a file made of pieces, written one after the other.
void WriteFileSafely(const std::string& path, const std::vector<std::span<const uint8_t>>& pieces,
                     const std::function<bool()>& cancelled = {});

}  // namespace fxcli
