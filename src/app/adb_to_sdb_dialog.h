// The "Convert ADB to SDB" dialog: the operator picks the parser application (remembered in
// the settings store as "FileName") and a downloaded file, chooses the output file, and the
// parser is started with the three paths as its arguments. The paths are joined by single
// blanks, so a chosen path that contains a blank is refused. Opened modally from the
// Process menu; UI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

#include "app/user_prompts.h"

class QLineEdit;
class QPushButton;

namespace tavrin::app {

// Fixed texts of the dialog.
inline constexpr const char* kAdbToSdbTitle = "Convert ADB to SDB";
inline constexpr const char* kAdbToSdbCaption = "Tavrin 1.1";
inline constexpr const char* kRegistryProblem = "Registry handling problem";
inline constexpr const char* kParserGenerated = "%s successfully generated";
inline constexpr const char* kParserFilterName = "Parser Application (*.EXE)";
inline constexpr const char* kParserPattern = "*.exe";
// Programs on this system rarely carry an extension, so every file can be shown too.
inline constexpr const char* kAnyFileFilter = "All Files (*)";
inline constexpr const char* kDbfFilterName = "Downloaded BIN File (*.DBF)";
inline constexpr const char* kDbfPattern = "*.dbf";
inline constexpr const char* kBinFilterName = "Static Database File (*.BIN)";
inline constexpr const char* kBinPattern = "*.bin";
inline constexpr const char* kBinSuffix = "bin";

// The fields' texts take part in the command line up to this many characters.
inline constexpr int kMaxPathText = 260;
// Between starting the parser and saying so: it gets a moment to begin its work.
inline constexpr auto kParserStartPause = std::chrono::milliseconds{1000};

// The remembered parser path in the settings store. Read: nullopt when it cannot be read;
// write: false when the settings store cannot be opened.
using ReadParserPath = std::function<std::optional<QString>()>;
using WriteParserPath = std::function<bool(const QString&)>;

// The text of a message with one "%s": `format` with `path` in its place.
QString WithPath(const char* format, const QString& path);

class AdbToSdbDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResourceId = 150;
  static constexpr int kBrowseBitmapId = 149;
  static constexpr QSize kSizeUnits{277, 66};

  AdbToSdbDialog(ReadParserPath readParserPath, WriteParserPath writeParserPath,
                 UserPrompts& prompts, QWidget* parent);

  // The opening steps: the remembered parser path into its field. False when the settings
  // store cannot be opened: "Registry handling problem" has been shown and
  // ShutdownRequested emitted.
  bool Open();
  // Runs Open, then the dialog, modally; 1 in every case.
  int exec() override;
  // Every way of closing ends the dialog with 1.
  void done(int result) override;

  // The buttons' commands.
  void BrowseParser();
  void BrowseDownloaded();
  void Convert();

  // How long Convert waits after starting the parser before it says so and closes.
  void SetStartPause(std::chrono::milliseconds pause) { startPause_ = pause; }

  QLineEdit* ParserEdit() const { return parser_; }
  QLineEdit* DownloadedEdit() const { return downloaded_; }
  QPushButton* ConvertButton() const { return convert_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* ParserBrowseButton() const { return parserBrowse_; }
  QPushButton* DownloadedBrowseButton() const { return downloadedBrowse_; }

 signals:
  // The settings store cannot be opened: the program is to shut down.
  void ShutdownRequested();

 private:
  void BuildWidgets();
  bool AcceptChosenPath(const QString& path);
  void EnableConvertWhenReady();
  void RegistryProblem();

  ReadParserPath readParserPath_;
  WriteParserPath writeParserPath_;
  UserPrompts& prompts_;
  std::chrono::milliseconds startPause_ = kParserStartPause;

  QLineEdit* parser_ = nullptr;
  QLineEdit* downloaded_ = nullptr;
  QPushButton* parserBrowse_ = nullptr;
  QPushButton* downloadedBrowse_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace tavrin::app
