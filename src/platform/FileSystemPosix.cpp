// The configuration file's system calls on macOS and Linux.
#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int OpenForReading(const char* path) { return open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

// Created with mode 0666 so the umask applies as it would to a file opened for writing.
int CreateTemporaryBeside(const char* path, std::string& temporaryPath) {
  static unsigned sequence;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporaryPath = std::string(path) + ".tmp." + std::to_string(getpid()) + "." + std::to_string(++sequence);
    const int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool CopyPermissions(const char* path, int fd) {
  struct stat oldFile;
  return stat(path, &oldFile) != 0 || fchmod(fd, oldFile.st_mode & 07777) == 0;
}

bool FlushFile(int fd) { return fsync(fd) == 0; }

bool PutInPlace(const char* from, const char* to) { return std::rename(from, to) == 0; }

void RemoveFile(const char* path) { unlink(path); }

void FlushFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int directory = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (directory < 0) return;
  fsync(directory);
  close(directory);
}

std::string FollowLinks(const char* path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat entry;
    if (lstat(current.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return current;
    char target[4096];
    const ssize_t length = readlink(current.c_str(), target, sizeof(target));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(target)) return current;
    const std::string linked(target, static_cast<size_t>(length));
    const size_t slash = current.rfind('/');
    current = linked[0] == '/' || slash == std::string::npos ? linked : current.substr(0, slash + 1) + linked;
  }
  return current;  // a loop: the write fails on it as open() would
}

bool UsesWindowsPaths() { return false; }
