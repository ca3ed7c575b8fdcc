// Menu 102 and accelerator table 103 as data: the texts, ids and initially grayed items
// of the menu bar, and the keys that issue menu commands. A key issues nothing while its
// menu item is grayed, so the state rules govern the keys too.
#pragma once

#include <QKeyCombination>
#include <vector>

namespace tavrin::app {

// One item of a drop-down menu: a command (id, text with its key after a tab) or a
// separator (id 0).
struct MenuItem {
  int id;
  const char* text;
};

struct MenuDefinition {
  const char* title;
  std::vector<MenuItem> items;
};

// The menu bar, in order. The resource grays Download (40015) and COM Port Testing (40014).
const std::vector<MenuDefinition>& MainMenu();

// One accelerator: the key as Qt names it, and the command it issues.
struct Accelerator {
  const char* key;
  int command;
};

// Accelerator table 103, in its order.
const std::vector<Accelerator>& Accelerators();

// Whether `key` is one of the table's keys. The window translates these before any
// control sees them, so a text box never takes Ctrl+A or Ctrl+C for itself.
bool IsAcceleratorKey(QKeyCombination key);

}  // namespace tavrin::app
