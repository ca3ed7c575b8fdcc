// PLACEHOLDERS, to be deleted when the real pieces land (each under its own header):
//   app/output_view.h            OutputView, OutputViewSink
//   app/terminal_screen_widget.h TerminalScreenWidget
//   app/qt_prompts.h             QtPrompts
//   app/settings_store.h         SettingsStore
//   app/port_settings_dialog.h   PortDialogResult, PortDialogOutcome, RunPortSettingsDialog
//   app/about_box.h              ShowAboutBox
//   app/find_dialog.h            FindDialog
// They do the least the main window needs to build and run; replace the include of this
// file by those headers.
#pragma once

#include <QByteArray>
#include <QFileDialog>
#include <QFont>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QTextCursor>
#include <QTextEdit>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <span>

#include "app/ui_queue.h"
#include "app/user_prompts.h"
#include "serial/port_settings.h"
#include "terminal/output_sink.h"

namespace tavrin::app {

// Placeholder: the read-only output window (id 130).
class OutputView : public QTextEdit {
 public:
  explicit OutputView(QWidget* parent = nullptr) : QTextEdit(parent) {
    setReadOnly(true);
    QFont face("Arial");
    face.setStyleHint(QFont::SansSerif);
    setFont(face);
  }

  void AppendBlock(const QByteArray& bytes, terminal::ColourMark colour) {
    QString text = QString::fromLatin1(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (colour == terminal::ColourMark::kRed) format.setForeground(QColor(255, 0, 0));
    if (colour == terminal::ColourMark::kBlue) format.setForeground(QColor(0, 0, 255));
    cursor.insertText(text, format);
    setTextCursor(cursor);
  }
};

// Placeholder: feeds the output window from the capture stream, queued to the UI thread.
class OutputViewSink final : public terminal::OutputSink {
 public:
  explicit OutputViewSink(OutputView& view) : view_(&view) {}
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark colour) override {
    QByteArray copy(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
    queue_.Post([view = view_, copy, colour] { view->AppendBlock(copy, colour); });
  }
  void ClearOutput() override {
    queue_.Post([view = view_] { view->clear(); });
  }

 private:
  OutputView* view_;
  UiQueue queue_;
};

// Placeholder: the terminal screen window, which holds the focus and takes typed keys.
class TerminalScreenWidget : public QWidget {
 public:
  explicit TerminalScreenWidget(QWidget* parent = nullptr) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
  }
  void SetCharSink(std::function<bool(std::uint8_t)> sink) { sink_ = std::move(sink); }
  void SetConnected(bool connected) { connected_ = connected; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const QString text = event->text();
    if (text.isEmpty()) return QWidget::keyPressEvent(event);
    for (QChar c : text) {
      if (connected_ && sink_ && c.unicode() < 0x100) sink_(static_cast<std::uint8_t>(c.unicode()));
    }
  }

 private:
  std::function<bool(std::uint8_t)> sink_;
  bool connected_ = false;
};

// Placeholder: message boxes and file dialogs with Qt's own.
class QtPrompts final : public UserPrompts {
 public:
  void Message(QWidget* parent, const QString& caption, const QString& text,
               PromptIcon icon) override {
    QMessageBox box(ToIcon(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
  }
  bool AskYesNo(QWidget* parent, const QString& caption, const QString& text,
                PromptIcon icon) override {
    QMessageBox box(ToIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
  }
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& spec) override {
    return Run(parent, spec, QFileDialog::AcceptOpen);
  }
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& spec) override {
    return Run(parent, spec, QFileDialog::AcceptSave);
  }

 private:
  static QMessageBox::Icon ToIcon(PromptIcon icon) {
    switch (icon) {
      case PromptIcon::kInformation:
        return QMessageBox::Information;
      case PromptIcon::kExclamation:
        return QMessageBox::Warning;
      case PromptIcon::kStop:
        return QMessageBox::Critical;
      case PromptIcon::kQuestion:
        return QMessageBox::Question;
      case PromptIcon::kNone:
        break;
    }
    return QMessageBox::NoIcon;
  }
  static std::optional<QString> Run(QWidget* parent, const FileDialogSpec& spec,
                                    QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, spec.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setNameFilters(spec.filters);
    dialog.setDefaultSuffix(spec.defaultSuffix);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen && spec.mustExist ? QFileDialog::ExistingFile
                                                                         : QFileDialog::AnyFile);
    if (!spec.initialName.isEmpty()) dialog.selectFile(spec.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    return dialog.selectedFiles().front();
  }
};

// Placeholder: the per-user settings store.
class SettingsStore {
 public:
  void LoadSettings(serial::PortSettings&) {}
  bool StoreRtsControl(bool) { return true; }
};

// Placeholder: the Port Settings dialog (124).
enum class PortDialogResult { kAccepted, kCancelled, kStoreFailed };
struct PortDialogOutcome {
  PortDialogResult result;
  serial::PortSettings settings;
};
inline PortDialogOutcome RunPortSettingsDialog(QWidget*, const serial::PortSettings& current,
                                               const QStringList&, SettingsStore&, UserPrompts&) {
  return {PortDialogResult::kCancelled, current};
}

// Placeholder: the About box (105).
inline void ShowAboutBox(QWidget*) {}

// Placeholder: the modeless Find dialog.
class FindDialog {
 public:
  FindDialog(OutputView*, UserPrompts&, QWidget*) {}
  void ShowFind() {}
};

}  // namespace tavrin::app
