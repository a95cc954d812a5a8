// Heap allocation counting for flight_loop_alloc_bench: malloc, calloc,
// realloc, the aligned variants and every operator new are interposed in the
// executable, and the CF stand-in's and the host's functions that the plug-in
// calls are wrapped at link time (-Wl,--wrap), so each allocation made on the
// counting thread is charged to whoever made it: the plug-in's own code, a CF
// operation, or a host function. Not built into sanitizer builds, whose
// allocator must not be interposed.
#pragma once

namespace alloc_hooks {

enum class Owner { Plugin, CoreFoundation, Host };

// False in sanitizer builds: nothing is counted there.
bool Available();

// Counting covers only the calling thread, between Start and Stop; code that
// is not inside a wrapped call is the plug-in's own.
void StartCounting();
void StopCounting();

struct Tally {
  long plugin = 0;
  long coreFoundation = 0;
  long host = 0;
  long Total() const { return plugin + coreFoundation + host; }
};
// What was counted since the last Reset.
Tally Counted();
void Reset();

// Per wrapped operation (CF and host functions), in a fixed order.
int OperationCount();
const char* OperationName(int index);
long OperationAllocations(int index);

}  // namespace alloc_hooks
