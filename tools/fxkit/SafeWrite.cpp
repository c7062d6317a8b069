#include "tools/fxkit/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tools/fxkit/Image.h"
#include "tools/fxkit/Interrupt.h"

namespace fxcli {

namespace {

constexpr size_t kChunk = size_t{1} << 20;

using Pieces = std::vector<std::span<const uint8_t>>;

[[noreturn]] void Fail(const std::string& path, int error) {
  throw UsageError(path + ": cannot write: " + std::strerror(error));
}

// Writes everything to `fd`, polling `cancelled` between chunks; returns 0 or an errno value,
// -1 when cancelled.
int WriteAll(int fd, const Pieces& pieces, const std::function<bool()>& cancelled) {
  for (const std::span<const uint8_t> bytes : pieces) {
    size_t done = 0;
    while (done < bytes.size()) {
      if (cancelled && cancelled()) return -1;
      const size_t n = std::min(kChunk, bytes.size() - done);
      const ssize_t written = write(fd, bytes.data() + done, n);
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += size_t(written);
    }
  }
  return cancelled && cancelled() ? -1 : 0;
}

// The file the path finally names: a symbolic link is followed to its target.
std::string ResolveTarget(const std::string& path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  return path;  // a dangling link: written through by open() below
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void WriteStandardOutput(const Pieces& bytes, const std::function<bool()>& cancelled) {
  if (cancelled && cancelled()) throw Interrupted();
  const int error = WriteAll(STDOUT_FILENO, bytes, {});
  if (error > 0) Fail("standard output", error);
}

void WriteDirectly(const std::string& path, const Pieces& bytes,
                   const std::function<bool()>& cancelled) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) Fail(path, errno);
  const int error = WriteAll(fd, bytes, cancelled);
  const int closed = close(fd) == 0 ? 0 : errno;
  if (error < 0) throw Interrupted();
  if (error || closed) Fail(path, error ? error : closed);
}

}  // namespace

void WriteFileSafely(const std::string& path, const std::vector<uint8_t>& bytes,
                     const std::function<bool()>& cancelled) {
  WriteFileSafely(path, Pieces{std::span<const uint8_t>(bytes)}, cancelled);
}

void WriteFileSafely(const std::string& path, const Pieces& bytes,
                     const std::function<bool()>& cancelled) {
  if (path == "-") return WriteStandardOutput(bytes, cancelled);
  const std::string target = ResolveTarget(path);
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return WriteDirectly(target, bytes, cancelled);
  if (!exists) {
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      return WriteDirectly(path, bytes, cancelled);  // dangling link: create its target
  }

  std::string temp = DirectoryOf(target) + "/." + BaseOf(target) + ".fxkit-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) Fail(path, errno);
  SetPendingFile(temp.c_str());
  mode_t mode;
  if (exists) {
    mode = existing.st_mode & 07777;
    if (fchown(fd, existing.st_uid, existing.st_gid) != 0) mode &= 0777;  // no set-id bits then
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  int error = WriteAll(fd, bytes, cancelled);
  if (error == 0 && fchmod(fd, mode) != 0) error = errno;
  // Replacing a file: its new bytes reach the disk before the rename, so a crash leaves the old
  // picture or the new one. A new file has nothing to lose and skips the wait.
  if (error == 0 && exists && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) unlink(temp.c_str());
  SetPendingFile(nullptr);
  if (error < 0) throw Interrupted();
  if (error > 0) Fail(path, error);
}

}  // namespace fxcli
