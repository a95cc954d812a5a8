// Runs the main thread's run loop where the simulator does not, so that stream
// events reach the plug-in between its callbacks.
#pragma once

void StartRunLoopPump();
void StopRunLoopPump();
