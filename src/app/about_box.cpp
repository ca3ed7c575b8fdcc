#include "app/about_box.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"
#include "core/product_identity.h"

namespace tavrin::app {
namespace {

// The template, in dialog units: the box's place over its owner and its size, then the
// controls (x, y, width, height).
constexpr QPoint kBoxPlace{160, 60};
constexpr QSize kBoxSize{177, 114};
constexpr QRect kOkRect{63, 95, 50, 14};
constexpr QRect kIconRect{6, 12, 21, 18};
constexpr QRect kVersionRect{35, 10, 94, 9};
constexpr QRect kBuildDateRect{35, 34, 90, 9};
constexpr QRect kProjectIdRect{35, 46, 101, 9};
constexpr QRect kSupportingOsRect{35, 58, 54, 9};
constexpr QRect kOsListRect{35, 70, 129, 9};
constexpr QRect kLanguagesRect{35, 82, 83, 9};
constexpr QRect kFrameRect{1, 1, 174, 112};
constexpr int kIconPixels = 32;

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : kIconSizes) {
    icon.addFile(QStringLiteral(":/icons/%1x%1/io.github.tavrin.Tavrin.png").arg(size),
                 QSize(size, size));
  }
  return icon;
}

QString AboutVersionLine() {
  const auto& identity = core::kProductIdentity;
  return QStringLiteral("Tavrin Version %1.%2.%3c")
      .arg(identity.major)
      .arg(identity.minor)
      .arg(identity.build);
}

QString AboutBuildDateLine() {
  return QStringLiteral("Build Date - ") + QString::fromStdString(core::BuildDate());
}

QString AboutProjectIdLine() {
  return QStringLiteral("Project ID - ") + QLatin1String(core::kProductIdentity.projectId);
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QString::number(kAboutBoxId));
  setWindowTitle(QLatin1String(kAboutTitle));
  setFont(DialogFont());
  setFixedSize(DialogUnitsToPixels(font(), kBoxSize));
  if (parent != nullptr) {
    const QRect place = DialogUnitsToPixels(font(), QRect(kBoxPlace, QSize()));
    move(parent->mapToGlobal(place.topLeft()));
  }

  auto* frame = new QGroupBox(this);
  frame->setGeometry(DialogUnitsToPixels(font(), kFrameRect));
  icon_ = new QLabel(this);
  icon_->setGeometry(DialogUnitsToPixels(font(), kIconRect));
  icon_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon_->setPixmap(ProgramIcon().pixmap(kIconPixels, kIconPixels));

  version_ = AddText(AboutVersionLine(), kVersionRect, kAboutVersionId);
  buildDate_ = AddText(AboutBuildDateLine(), kBuildDateRect, kAboutBuildDateId);
  projectId_ = AddText(AboutProjectIdLine(), kProjectIdRect, kAboutProjectId);
  AddText(QLatin1String(kSupportingOsText), kSupportingOsRect);
  AddText(QLatin1String(kOsListText), kOsListRect);
  AddText(QLatin1String(kLanguagesText), kLanguagesRect);

  ok_ = new QPushButton(QLatin1String(kAboutOkText), this);
  ok_->setObjectName(QStringLiteral("1"));
  ok_->setGeometry(DialogUnitsToPixels(font(), kOkRect));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  ok_->setFocus();
}

// A static text at its template rectangle, as plain text so that its blanks stay; never
// narrower than the text itself, so no font cuts it off.
QLabel* AboutBox::AddText(const QString& text, QRect dialogUnits, int id) {
  auto* label = new QLabel(text, this);
  label->setTextFormat(Qt::PlainText);
  if (id != 0) label->setObjectName(QString::number(id));
  QRect rect = DialogUnitsToPixels(font(), dialogUnits);
  rect.setWidth(std::max(rect.width(), label->sizeHint().width()));
  rect.setHeight(std::max(rect.height(), label->sizeHint().height()));
  label->setGeometry(rect);
  return label;
}

void AboutBox::reject() {
  accept();
}

void ShowAboutBox(QWidget* parent) {
  AboutBox box(parent);
  box.exec();
}

}  // namespace tavrin::app
