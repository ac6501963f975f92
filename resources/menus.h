// The main window's menu bar and accelerator table as data. Labels keep the
// "&" of their mnemonic; the text after "\t" is only the shortcut shown.
#pragma once

#include "resource_ids.h"

#include <QKeyCombination>

#include <span>

namespace tavro {

struct MenuItemDef {
    int id;                // 0: separator
    const char16_t* label; // nullptr for a separator
};

struct PopupDef {
    const char16_t* label;
    std::span<const MenuItemDef> items;
};

struct AcceleratorDef {
    QKeyCombination keys;
    int command;
};

// Menu 130: the popups of the menu bar, left to right.
std::span<const PopupDef> MainMenu();

// Accelerator table 130, in table order.
std::span<const AcceleratorDef> MainAccelerators();

// Index of the "编辑(&E)" popup, also shown as the editors' context menu.
inline constexpr std::size_t kEditPopupIndex = 2;

} // namespace tavro
