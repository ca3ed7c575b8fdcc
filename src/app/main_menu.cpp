#include "app/main_menu.h"

#include <QKeySequence>

#include "app/command_ids.h"

namespace tavrin::app {

const std::vector<MenuDefinition>& MainMenu() {
  static const std::vector<MenuDefinition> menu = {
      {"&File",
       {{cmd::kConnect, "&Connect\tCtrl+N"},
        {cmd::kDisconnect, "&Disconnect\tCtrl+Q"},
        {0, nullptr},
        {cmd::kSave, "&Save\tCtrl+S"},
        {0, nullptr},
        {cmd::kExit, "&Exit\tAlt+X"}}},
      {"&Process",
       {{cmd::kUpload, "&Upload\tF3"},
        {cmd::kDownload, "&Download\tF4"},
        {cmd::kCreateDownloadScript, "Create Download &Script"},
        {cmd::kConvertAdbToSdb, "Convert &ADB to SDB"},
        {0, nullptr},
        {cmd::kPortSettings, "&Port Settings\tCtrl+P"},
        {cmd::kCancel, "&Cancel"},
        {0, nullptr},
        {cmd::kComPortTesting, "COM Port &Testing"}}},
      {"&Window",
       {{cmd::kCopy, "&Copy\tCtrl+C"},
        {cmd::kClear, "Clea&r\tCtrl+R"},
        {cmd::kSelectAll, "Select &All\tCtrl+A"},
        {cmd::kFind, "&Find\tCtrl+F"}}},
      {"&Help", {{cmd::kAbout, "&About"}}},
  };
  return menu;
}

const std::vector<Accelerator>& Accelerators() {
  static const std::vector<Accelerator> table = {
      {"Ctrl+A", cmd::kSelectAll},    {"Ctrl+C", cmd::kCopy},    {"Ctrl+F", cmd::kFind},
      {"Ctrl+P", cmd::kPortSettings}, {"Ctrl+R", cmd::kClear},   {"F3", cmd::kUpload},
      {"F4", cmd::kDownload},         {"Ctrl+N", cmd::kConnect}, {"Ctrl+Q", cmd::kDisconnect},
      {"Ctrl+S", cmd::kSave},         {"Alt+C", cmd::kCancel},   {"Alt+S", cmd::kSave},
      {"Alt+U", cmd::kUpload},        {"Alt+X", cmd::kExit},
  };
  return table;
}

bool IsAcceleratorKey(QKeyCombination key) {
  const QKeySequence pressed(key);
  for (const Accelerator& accelerator : Accelerators()) {
    if (QKeySequence(QString::fromLatin1(accelerator.key)) == pressed) return true;
  }
  return false;
}

}  // namespace tavrin::app
