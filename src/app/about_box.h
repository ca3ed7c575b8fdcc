// The About box (template 105): the product identity (version, build date, project id)
// and the fixed texts of the release, with one button. OK, Escape and the close box all
// end it the same way. UI thread only.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

class QLabel;
class QPushButton;

namespace tavrin::app {

inline constexpr int kAboutBoxId = 105;
inline constexpr int kAboutVersionId = 1038;
inline constexpr int kAboutBuildDateId = 1042;
inline constexpr int kAboutProjectId = 1039;

// Fixed texts, byte for byte.
inline constexpr const char* kAboutTitle = "About Tavrin";
inline constexpr const char* kAboutOkText = "&Ok";
inline constexpr const char* kSupportingOsText = "Supporting OS:";
inline constexpr const char* kOsListText = " Windows 95, 98, ME,  NT, 2000 and XP";
inline constexpr const char* kLanguagesText = "Both English and Chinese";

// The program's own icon (16 to 256 pixels, from the resources): the window's icon, the
// About box's picture and, installed into the icon theme, the desktop entry's.
QIcon ProgramIcon();

// "Tavrin Version 1.1.0c", "Build Date - Dec 5 2026", "Project ID - TVR-STB-001".
QString AboutVersionLine();
QString AboutBuildDateLine();
QString AboutProjectIdLine();

class AboutBox final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);

  QLabel* VersionLabel() const { return version_; }
  QLabel* BuildDateLabel() const { return buildDate_; }
  QLabel* ProjectIdLabel() const { return projectId_; }
  QLabel* IconLabel() const { return icon_; }
  QPushButton* OkButton() const { return ok_; }

  // Escape and the close box end the box as OK does.
  void reject() override;

 private:
  QLabel* AddText(const QString& text, QRect dialogUnits, int id = 0);

  QLabel* icon_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* buildDate_ = nullptr;
  QLabel* projectId_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// The About command: the box, modal over `parent`.
void ShowAboutBox(QWidget* parent);

}  // namespace tavrin::app
