#include "app/adb_to_sdb_dialog.h"
#include "app/dialog_keys.h"
#include "app/dialog_units.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <string>

#include "app/script_list_dialog.h"
#include "scripts/parser_launcher.h"

namespace tavrin::app {
namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string LocalText(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

}  // namespace

QString WithPath(const char* format, const QString& path) {
  QString text = QString::fromLatin1(format);
  const qsizetype at = text.indexOf(QStringLiteral("%s"));
  if (at >= 0) text.replace(at, 2, path);
  return text;
}

AdbToSdbDialog::AdbToSdbDialog(ReadParserPath readParserPath, WriteParserPath writeParserPath,
                               UserPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      readParserPath_(std::move(readParserPath)),
      writeParserPath_(std::move(writeParserPath)),
      prompts_(prompts) {
  BuildWidgets();
}

void AdbToSdbDialog::BuildWidgets() {
  PressFocusedButtonOnEnter(*this);
  setWindowTitle(QString::fromLatin1(kAdbToSdbTitle));
  setFont(DialogFont());

  parser_ = new QLineEdit(this);
  downloaded_ = new QLineEdit(this);
  // The browse picture: the desktop theme's, or the style's own where there is no theme.
  const QIcon browse = QIcon::fromTheme(QStringLiteral("document-open"),
                                        style()->standardIcon(QStyle::SP_DirOpenIcon));
  parserBrowse_ = new QPushButton(browse, QString(), this);
  downloadedBrowse_ = new QPushButton(browse, QString(), this);
  convert_ = new QPushButton(QStringLiteral("&Convert"), this);
  cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
  convert_->setDefault(true);
  convert_->setEnabled(false);
  for (QPushButton* button : {parserBrowse_, downloadedBrowse_, cancel_}) {
    button->setAutoDefault(false);
  }

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Parser Application"), this), 0, 0);
  grid->addWidget(parser_, 0, 1);
  grid->addWidget(parserBrowse_, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Downloaded file"), this), 1, 0);
  grid->addWidget(downloaded_, 1, 1);
  grid->addWidget(downloadedBrowse_, 1, 2);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(convert_);
  buttons->addWidget(cancel_);
  buttons->addStretch();
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(grid);
  whole->addLayout(buttons);

  connect(parserBrowse_, &QPushButton::clicked, this, &AdbToSdbDialog::BrowseParser);
  connect(downloadedBrowse_, &QPushButton::clicked, this, &AdbToSdbDialog::BrowseDownloaded);
  connect(convert_, &QPushButton::clicked, this, &AdbToSdbDialog::Convert);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  resize(DialogUnitsToPixels(font(), kSizeUnits).expandedTo(minimumSizeHint()));
}

bool AdbToSdbDialog::Open() {
  std::optional<QString> path = readParserPath_();
  if (!path) {
    // A value that cannot be read is written empty; when even that fails the settings
    // store itself cannot be opened.
    if (!writeParserPath_(QString())) {
      RegistryProblem();
      return false;
    }
    path = QString();
  }
  if (!path->isEmpty()) parser_->setText(*path);
  cancel_->setFocus();
  return true;
}

int AdbToSdbDialog::exec() {
  if (!Open()) return Accepted;
  QDialog::exec();
  return Accepted;
}

void AdbToSdbDialog::done(int /*result*/) {
  QDialog::done(Accepted);
}

void AdbToSdbDialog::BrowseParser() {
  FileDialogSpec spec;
  spec.title = QStringLiteral("Open");
  spec.filters = QStringList{FileFilter(kParserFilterName, kParserPattern),
                             QString::fromLatin1(kAnyFileFilter)};
  spec.mustExist = true;
  const std::optional<QString> path = prompts_.OpenFile(this, spec);
  if (!path || !AcceptChosenPath(*path)) return;
  if (!writeParserPath_(*path)) {
    RegistryProblem();
    return;
  }
  parser_->setText(*path);
  EnableConvertWhenReady();
}

void AdbToSdbDialog::BrowseDownloaded() {
  FileDialogSpec spec;
  spec.title = QStringLiteral("Open");
  spec.filters = QStringList{FileFilter(kDbfFilterName, kDbfPattern)};
  spec.mustExist = false;  // only its folder must exist
  const std::optional<QString> path = prompts_.OpenFile(this, spec);
  if (!path || !AcceptChosenPath(*path)) return;
  downloaded_->setText(*path);
  EnableConvertWhenReady();
}

void AdbToSdbDialog::Convert() {
  FileDialogSpec spec;
  spec.title = QStringLiteral("Save");
  spec.filters = QStringList{FileFilter(kBinFilterName, kBinPattern)};
  spec.defaultSuffix = QString::fromLatin1(kBinSuffix);
  spec.mustExist = false;
  spec.confirmOverwrite = true;
  const std::optional<QString> output = prompts_.SaveFile(this, spec);
  if (!output || !AcceptChosenPath(*output)) return;

  // Typed texts are used as typed.
  const std::string commandLine = scripts::ParserCommandLine(
      LocalText(parser_->text().left(kMaxPathText)),
      LocalText(downloaded_->text().left(kMaxPathText)), LocalText(*output));
  if (!scripts::StartParser(commandLine)) {
    prompts_.Message(this, QString::fromLatin1(kAdbToSdbCaption),
                     Latin1(scripts::kParserStartFailed), PromptIcon::kStop);
    return;
  }
  // Nothing more is asked of the dialog while the parser starts.
  for (QWidget* control : std::initializer_list<QWidget*>{parser_, downloaded_, parserBrowse_,
                                                          downloadedBrowse_, convert_, cancel_}) {
    control->setEnabled(false);
  }
  QTimer::singleShot(startPause_, this, [this, generated = *output] {
    prompts_.Message(this, QString::fromLatin1(kAdbToSdbCaption),
                     WithPath(kParserGenerated, generated), PromptIcon::kInformation);
    done(Accepted);
  });
}

// A path with a blank cannot be passed on the parser's command line.
bool AdbToSdbDialog::AcceptChosenPath(const QString& path) {
  if (!scripts::HasBlank(LocalText(path))) return true;
  prompts_.Message(this, QString::fromLatin1(kAdbToSdbCaption),
                   WithPath(scripts::kBlankInPath.data(), path), PromptIcon::kExclamation);
  return false;
}

void AdbToSdbDialog::EnableConvertWhenReady() {
  if (!parser_->text().isEmpty() && !downloaded_->text().isEmpty()) convert_->setEnabled(true);
}

void AdbToSdbDialog::RegistryProblem() {
  prompts_.Message(this, QString::fromLatin1(kAdbToSdbCaption),
                   QString::fromLatin1(kRegistryProblem), PromptIcon::kStop);
  emit ShutdownRequested();
  if (isVisible()) done(Accepted);
}

}  // namespace tavrin::app
