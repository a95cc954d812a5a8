// Which thread is running, as a number the run loops are kept by. The main
// thread's number is the process's on Linux; on Windows it is the thread that
// loaded the library, which is the simulator's main thread.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace cfstandin {

#ifdef _WIN32
using ThreadNumber = unsigned long;
inline ThreadNumber CurrentThreadNumber() { return GetCurrentThreadId(); }
inline const ThreadNumber kLoadingThread = GetCurrentThreadId();
inline ThreadNumber MainThreadNumber() { return kLoadingThread; }
#else
using ThreadNumber = pid_t;
inline ThreadNumber CurrentThreadNumber() { return static_cast<pid_t>(syscall(SYS_gettid)); }
inline ThreadNumber MainThreadNumber() { return getpid(); }
#endif

}  // namespace cfstandin
