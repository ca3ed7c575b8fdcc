#include "app/main_toolbar.h"

#include <QAction>

#include "app/command_ids.h"
#include "app/toolbar_images.h"

namespace tavrin::app {

namespace {

constexpr int kSeparator = 0;
// The progress label's place inside the toolbar, in pixels.
constexpr QRect kProgressLabelRect(430, 10, 300, 20);

}  // namespace

const std::vector<ToolbarEntry>& ToolbarEntries() {
  static const std::vector<ToolbarEntry> entries = {
      {kSeparator, -1, nullptr},
      {tb::kConnect, 0, "Connect ( CTRL+N )"},
      {tb::kDisconnect, 1, "Disconnect ( CTRL+Q )"},
      {kSeparator, -1, nullptr},
      {tb::kSave, 2, "Save log file ( CTRL+S )"},
      {tb::kPortSettings, 3, "Port Settings ( CTRL+P )"},
      {kSeparator, -1, nullptr},
      {tb::kUpload, 4, "Upload data from PC to STB ( F3 )"},
      {tb::kDownload, 5, "Download data from STB to PC  ( F4 )"},
      {kSeparator, -1, nullptr},
      {tb::kCancel, 6, "Cancel"},
      {tb::kPause, 7, "Pause"},
  };
  return entries;
}

MainToolbar::MainToolbar(QWidget* parent) : QToolBar(parent) {
  setObjectName(QStringLiteral("toolbar%1").arg(kToolbarId));
  setMovable(false);
  setFloatable(false);
  setIconSize(QSize(kToolbarImageSize, kToolbarImageSize));
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (const ToolbarEntry& entry : ToolbarEntries()) {
    if (entry.id == kSeparator) {
      addSeparator();
      continue;
    }
    QAction* action = addAction(ToolbarIcon(static_cast<ToolbarImage>(entry.image)), QString());
    action->setToolTip(QString::fromLatin1(entry.tooltip));
    action->setData(entry.id);
    const int id = entry.id;
    connect(action, &QAction::triggered, this, [this, id] { emit Command(id); });
    buttons_[id] = action;
  }
  progressLabel_ = new QLabel(this);
  progressLabel_->setGeometry(kProgressLabelRect);
  progressLabel_->show();
}

void MainToolbar::Apply(const ControlStates& states) {
  for (auto& [id, action] : buttons_) action->setEnabled(states.Toolbar(id));
  if (states.pauseShowsContinue != pauseShowsContinue_) {
    pauseShowsContinue_ = states.pauseShowsContinue;
    QAction* pause = buttons_.at(tb::kPause);
    pause->setIcon(
        ToolbarIcon(pauseShowsContinue_ ? ToolbarImage::kContinue : ToolbarImage::kPause));
    pause->setToolTip(QString::fromLatin1(PauseTooltip(states)));
  }
  progressLabel_->setText(QString::fromStdString(states.progressLabelText));
  progressLabel_->setVisible(states.progressLabelShown);
}

}  // namespace tavrin::app
