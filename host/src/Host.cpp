// The host as a whole: handle numbering and the reset to a fresh simulator.
#include "HostInternal.h"
#include "SharedLibrary.h"
#include "XPHostControl.h"

namespace xphost {
namespace detail {

uintptr_t NextHandle() {
  // Starts well above small integers and steps by 16 so handles look like the
  // aligned pointers a plug-in expects, yet never point at anything.
  static uintptr_t next = 0x7e5700000;
  next += 16;
  return next;
}

bool IsCodeInModule(const void* code, const void* moduleBase) {
  if (!code || !moduleBase) return false;
  return ModuleBaseOf(code) == moduleBase;
}

}  // namespace detail

void Reset() {
  UnloadPlugin();
  detail::ResetWidgets();
  detail::ResetDisplay();
  detail::ResetMenus();
  detail::ResetProcessing();
  detail::ResetDataRefs();
  detail::ResetLog();
  detail::ResetPlugins();
}

}  // namespace xphost
