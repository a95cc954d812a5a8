// The configuration file's system calls on Windows. Paths go through the
// wide-character API, so a user folder such as C:\Users\José works whatever
// the system's code page; files are opened in binary mode, so line ends are
// the file's own.
#include "FileSystem.h"

#include "WideText.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

namespace {

// Only invalid UTF-8 gives an empty name; the calls then fail with EINVAL.
std::wstring WidePath(const char* path) { return WideFromUtf8(path ? path : ""); }

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

}  // namespace

int OpenForReading(const char* path) {
  return _wopen(WidePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int CreateTemporaryBeside(const char* path, std::string& temporaryPath) {
  static unsigned sequence;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporaryPath = std::string(path) + ".tmp." + std::to_string(GetCurrentProcessId()) + "." +
                    std::to_string(++sequence);
    const int fd = _wopen(WidePath(temporaryPath.c_str()).c_str(),
                          _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Windows files carry no POSIX permission bits; the new file gets the
// folder's inherited access rights, as the old one had.
bool CopyPermissions(const char*, int) { return true; }

bool FlushFile(int fd) { return _commit(fd) == 0; }

// std::rename does not replace an existing file on Windows; this does, and
// returns only once the move is on disk.
bool PutInPlace(const char* from, const char* to) {
  if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

void RemoveFile(const char* path) { _wunlink(WidePath(path).c_str()); }

// MOVEFILE_WRITE_THROUGH has flushed the move already.
void FlushFolderOf(const std::string&) {}

// Links are rare on Windows and not followed: MoveFileExW replaces one.
std::string FollowLinks(const char* path) { return path; }

bool UsesWindowsPaths() { return true; }
