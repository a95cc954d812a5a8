// Stream events reach the plug-in only in run-loop modes of its own, which it
// runs itself, so they never wait for whatever mode the simulator runs its run
// loop in.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

// The mode of the broadcast and landing streams, run once per frame by the pump.
CFRunLoopMode RequestRunLoopMode();

void StartRunLoopPump();
void StopRunLoopPump();

// Stops the network worker thread that the CF stand-in runs on systems without
// Apple's frameworks; nothing to do on macOS. Called from the stop path, never
// from a static destructor (on Windows those run under the loader lock).
void StopNetworkWorker();
