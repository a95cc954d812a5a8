// The file calls the configuration file needs, one implementation per system
// (FileSystemPosix.cpp, FileSystemWindows.cpp). Paths are UTF-8; a failure
// leaves errno set.
#pragma once

#include <string>

// Non-blocking, so that a FIFO in the file's place cannot stall the simulator.
// A descriptor for read() and close(), or -1.
int OpenForReading(const char* path);
// Creates a new, empty file beside path to write a replacement into; -1 when
// none could be made.
int CreateTemporaryBeside(const char* path, std::string& temporaryPath);
// Gives the file open as fd the permission bits of the file at path, if any.
bool CopyPermissions(const char* path, int fd);
// The file's bytes are on disk.
bool FlushFile(int fd);
// Puts from in to's place in one step, replacing to.
bool PutInPlace(const char* from, const char* to);
void RemoveFile(const char* path);
// Makes sure a replacement in path's folder is on disk; a failure changes nothing.
void FlushFolderOf(const std::string& path);
// The file a chain of symbolic links ends at (missing or not), so that a
// rewrite replaces the target and keeps the pilot's link. On Windows the path
// itself: a rewrite there replaces a link with the file.
std::string FollowLinks(const char* path);
// X-Plane reports the plug-in's path as "C:\\...\\win_x64\\Tralix.xpl" here: its
// ':' belongs to the drive, not to a classic Mac path.
bool UsesWindowsPaths();
