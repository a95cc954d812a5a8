// The Plugins menu, the plug-in's menus and items, and picking an item by its
// path of names as a user would.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPLMMenus.h"

#include <algorithm>
#include <unordered_map>

namespace xphost {
namespace {

struct MenuItem {
  std::string name;
  void* itemRef = nullptr;
  bool enabled = true;
  XPLMMenuCheck check = xplm_Menu_NoCheck;
  bool separator = false;
  uintptr_t submenu = 0;
};

struct Menu {
  std::string name;
  uintptr_t parent = 0;
  XPLMMenuHandler_f handler = nullptr;
  void* menuRef = nullptr;
  std::vector<MenuItem> items;
};

struct MenuState {
  uintptr_t pluginsMenu = 0;
  std::unordered_map<uintptr_t, Menu> menus;
};

MenuState& State() {
  static MenuState state;
  if (!state.pluginsMenu) {
    state.pluginsMenu = detail::NextHandle();
    state.menus[state.pluginsMenu].name = "Plugins";
  }
  return state;
}

Menu* FindMenu(XPLMMenuID id) {
  auto found = State().menus.find(detail::AsId(id));
  return found == State().menus.end() ? nullptr : &found->second;
}

MenuItem* FindItem(XPLMMenuID id, int index) {
  Menu* menu = FindMenu(id);
  if (!menu || index < 0 || static_cast<size_t>(index) >= menu->items.size()) return nullptr;
  return &menu->items[static_cast<size_t>(index)];
}

void DestroyMenuTree(uintptr_t id) {
  auto found = State().menus.find(id);
  if (found == State().menus.end()) return;
  std::vector<uintptr_t> submenus;
  for (const auto& item : found->second.items)
    if (item.submenu) submenus.push_back(item.submenu);
  State().menus.erase(found);
  for (uintptr_t submenu : submenus) DestroyMenuTree(submenu);
}

void DetachFromParentItem(uintptr_t id) {
  for (auto& entry : State().menus)
    for (auto& item : entry.second.items)
      if (item.submenu == id) item.submenu = 0;
}

// The menu reached from the Plugins menu by following item names; 0 if none.
uintptr_t MenuAtPath(const std::vector<std::string>& path, size_t length) {
  uintptr_t current = State().pluginsMenu;
  for (size_t i = 0; i < length; ++i) {
    const Menu& menu = State().menus[current];
    auto item = std::find_if(menu.items.begin(), menu.items.end(), [&](const MenuItem& candidate) {
      return !candidate.separator && candidate.name == path[i] && candidate.submenu &&
             State().menus.count(candidate.submenu);
    });
    if (item == menu.items.end()) return 0;
    current = item->submenu;
  }
  return current;
}

}  // namespace

namespace detail {
void ResetMenus() {
  State().menus.clear();
  State().pluginsMenu = 0;
}

int DropMenuHandlersOfModule(const void* moduleBase) {
  int dropped = 0;
  for (auto& entry : State().menus) {
    if (IsCodeInModule(reinterpret_cast<const void*>(entry.second.handler), moduleBase)) {
      entry.second.handler = nullptr;
      dropped++;
    }
  }
  return dropped;
}
}  // namespace detail

std::vector<MenuItemInfo> MenuItems(const std::vector<std::string>& path) {
  std::vector<MenuItemInfo> items;
  uintptr_t menu = MenuAtPath(path, path.size());
  if (!menu) return items;
  for (const auto& item : State().menus[menu].items)
    items.push_back({item.name, item.itemRef, item.enabled, item.check, item.separator,
                     item.submenu != 0 && State().menus.count(item.submenu) > 0});
  return items;
}

bool PickMenuItem(const std::vector<std::string>& path) {
  if (path.empty()) return false;
  uintptr_t menuId = MenuAtPath(path, path.size() - 1);
  if (!menuId) return false;
  const Menu& menu = State().menus[menuId];
  auto item = std::find_if(menu.items.begin(), menu.items.end(), [&](const MenuItem& candidate) {
    return !candidate.separator && candidate.name == path.back();
  });
  if (item == menu.items.end() || !item->enabled || !menu.handler) return false;
  // The handler may destroy this very menu, so nothing of it is used afterwards.
  XPLMMenuHandler_f handler = menu.handler;
  void* menuRef = menu.menuRef;
  void* itemRef = item->itemRef;
  handler(menuRef, itemRef);
  return true;
}

int LiveMenuCount() { return static_cast<int>(State().menus.size()) - 1; }

}  // namespace xphost

using xphost::FindItem;
using xphost::FindMenu;
using xphost::State;

extern "C" {

XPLM_API XPLMMenuID XPLMFindPluginsMenu(void) { return xphost::detail::AsHandle(State().pluginsMenu); }

XPLM_API XPLMMenuID XPLMFindAircraftMenu(void) { return nullptr; }

XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void* inMenuRef) {
  if (!inName || !*inName) return nullptr;
  xphost::MenuItem* parentItem = nullptr;
  if (inParentMenu) {
    parentItem = FindItem(inParentMenu, inParentItem);
    if (!parentItem || parentItem->separator) return nullptr;
  }
  uintptr_t id = xphost::detail::NextHandle();
  if (parentItem) parentItem->submenu = id;
  xphost::Menu& menu = State().menus[id];
  menu.name = inName;
  menu.parent = xphost::detail::AsId(inParentMenu);
  menu.handler = inHandler;
  menu.menuRef = inMenuRef;
  return xphost::detail::AsHandle(id);
}

XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID) {
  uintptr_t id = xphost::detail::AsId(inMenuID);
  if (!FindMenu(inMenuID) || id == State().pluginsMenu) return;
  xphost::DetachFromParentItem(id);
  xphost::DestroyMenuTree(id);
}

XPLM_API void XPLMClearAllMenuItems(XPLMMenuID inMenuID) {
  if (xphost::Menu* menu = FindMenu(inMenuID)) menu->items.clear();
}

XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef, int) {
  xphost::Menu* menu = FindMenu(inMenu);
  if (!menu) return -1;
  menu->items.push_back({inItemName ? inItemName : "", inItemRef, true, xplm_Menu_NoCheck, false, 0});
  return static_cast<int>(menu->items.size()) - 1;
}

XPLM_API void XPLMAppendMenuSeparator(XPLMMenuID inMenu) {
  if (xphost::Menu* menu = FindMenu(inMenu)) menu->items.push_back({"", nullptr, true, 0, true, 0});
}

XPLM_API void XPLMSetMenuItemName(XPLMMenuID inMenu, int inIndex, const char* inItemName, int) {
  if (xphost::MenuItem* item = FindItem(inMenu, inIndex)) item->name = inItemName ? inItemName : "";
}

XPLM_API void XPLMCheckMenuItem(XPLMMenuID inMenu, int index, XPLMMenuCheck inCheck) {
  if (xphost::MenuItem* item = FindItem(inMenu, index)) item->check = inCheck;
}

XPLM_API void XPLMCheckMenuItemState(XPLMMenuID inMenu, int index, XPLMMenuCheck* outCheck) {
  xphost::MenuItem* item = FindItem(inMenu, index);
  if (item && outCheck) *outCheck = item->check;
}

XPLM_API void XPLMEnableMenuItem(XPLMMenuID inMenu, int index, int enabled) {
  if (xphost::MenuItem* item = FindItem(inMenu, index)) item->enabled = enabled != 0;
}

// Later items move up one index. A submenu hanging off the item stays alive
// (its owner still holds its ID) but can no longer be reached.
XPLM_API void XPLMRemoveMenuItem(XPLMMenuID inMenu, int inIndex) {
  xphost::Menu* menu = FindMenu(inMenu);
  if (!FindItem(inMenu, inIndex)) return;
  menu->items.erase(menu->items.begin() + inIndex);
}

}  // extern "C"
