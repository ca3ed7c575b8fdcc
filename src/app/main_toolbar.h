// The toolbar (id 112) along the top of the main window: Connect, Disconnect, Save log
// file, Port Settings, Upload, Download, Cancel and Pause, with separators between the
// groups, each button with its tooltip and its normal and hot picture, and the progress
// label inside it at x 430, y 10. A pressed button issues its toolbar id through Command.
#pragma once

#include <QLabel>
#include <QToolBar>
#include <map>
#include <vector>

#include "app/window_rules.h"

class QAction;

namespace tavrin::app {

// One entry of the toolbar: a separator (id 0) or a button with its image and tooltip.
struct ToolbarEntry {
  int id;
  int image;
  const char* tooltip;
};

// The entries in order: the eleven of the resource and Pause after Cancel.
const std::vector<ToolbarEntry>& ToolbarEntries();

class MainToolbar final : public QToolBar {
  Q_OBJECT

 public:
  explicit MainToolbar(QWidget* parent);

  // Enables the buttons, sets Pause's picture and tooltip and the progress label.
  void Apply(const ControlStates& states);

  QAction* Button(int id) const { return buttons_.at(id); }
  QLabel* ProgressLabel() const { return progressLabel_; }

 signals:
  void Command(int id);

 private:
  std::map<int, QAction*> buttons_;
  QLabel* progressLabel_;
  bool pauseShowsContinue_ = false;
};

}  // namespace tavrin::app
