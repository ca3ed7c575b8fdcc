#include "app/com_test_dialog.h"
#include "app/dialog_keys.h"
#include "app/dialog_units.h"

#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string_view>

#include "app/script_list_dialog.h"

namespace tavrin::app {
namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QByteArray TransmitBytes(const QString& text) {
  QString lines = text;
  lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  lines.replace(QChar::LineSeparator, QLatin1Char('\n'));
  lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return lines.toLatin1();
}

QString ReceivedText(const QByteArray& payload) {
  const qsizetype end = payload.indexOf('\0');
  QString text = QString::fromLatin1(end < 0 ? payload : payload.left(end));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

ComTestDialog::ComTestDialog(core::PortCore& core, ComTestRelay& relay, UserPrompts& prompts,
                             QWidget* parent)
    : QDialog(parent), core_(core), relay_(relay), prompts_(prompts) {
  BuildWidgets();
  relay_.Attach(this);
  core_.SetComTestActive(true);
  active_ = true;
}

ComTestDialog::~ComTestDialog() {
  EndTest();
}

void ComTestDialog::BuildWidgets() {
  PressFocusedButtonOnEnter(*this);
  setWindowTitle(QStringLiteral("COM Port Testing"));
  setFont(DialogFont());
  const QFont& dialogFont = font();
  auto place = [&](QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(DialogUnitsToPixels(dialogFont, QRect(x, y, width, height)));
  };
  auto button = [&](const char* text) {
    auto* pushButton = new QPushButton(QString::fromLatin1(text), this);
    pushButton->setAutoDefault(false);
    return pushButton;
  };

  place(new QLabel(QStringLiteral("Transmitter"), this), 2, 4, 83, 10);
  transmitter_ = new QPlainTextEdit(this);
  place(transmitter_, 0, 17, 292, 78);
  send_ = button("Send");
  place(send_, 298, 38, 60, 15);
  clearTransmitter_ = button("Clear");
  place(clearTransmitter_, 298, 58, 60, 15);
  place(new QLabel(QStringLiteral("Receiver"), this), 2, 103, 83, 10);
  receiver_ = new QPlainTextEdit(this);
  receiver_->setReadOnly(true);
  place(receiver_, 0, 116, 292, 78);
  clearReceiver_ = button("Clear");
  place(clearReceiver_, 298, 146, 60, 15);
  close_ = button("Close");
  place(close_, 115, 202, 50, 14);
  for (QPlainTextEdit* box : {transmitter_, receiver_}) {
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  }
  setFixedSize(DialogUnitsToPixels(dialogFont, kSizeUnits));

  connect(send_, &QPushButton::clicked, this, &ComTestDialog::Send);
  connect(clearTransmitter_, &QPushButton::clicked, transmitter_, &QPlainTextEdit::clear);
  connect(clearReceiver_, &QPushButton::clicked, receiver_, &QPlainTextEdit::clear);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

void ComTestDialog::Send() {
  const QByteArray bytes = TransmitBytes(transmitter_->toPlainText());
  const serial::TestSendResult sent = core_.SendTestText(
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  if (sent == serial::TestSendResult::kTooLong) {
    prompts_.Message(this, Latin1(serial::kTestTooLongCaption), Latin1(serial::kTestTextTooLong),
                     PromptIcon::kExclamation);
  }
}

void ComTestDialog::ShowReceived(const QByteArray& payload) {
  receiver_->setPlainText(ReceivedText(payload));
}

void ComTestDialog::done(int /*result*/) {
  EndTest();
  QDialog::done(Accepted);
}

void ComTestDialog::EndTest() {
  if (!active_) return;
  active_ = false;
  core_.SetComTestActive(false);
  relay_.Detach(this);
}

void ComTestRelay::ShowReceived(std::vector<std::uint8_t> payload) {
  QByteArray bytes(reinterpret_cast<const char*>(payload.data()),
                   static_cast<qsizetype>(payload.size()));
  QMetaObject::invokeMethod(
      this, [this, bytes = std::move(bytes)] { Deliver(bytes); }, Qt::QueuedConnection);
}

void ComTestRelay::Attach(ComTestDialog* dialog) {
  dialog_ = dialog;
}

void ComTestRelay::Detach(const ComTestDialog* dialog) {
  if (dialog_ == dialog) dialog_ = nullptr;
}

void ComTestRelay::Deliver(const QByteArray& payload) {
  if (dialog_) dialog_->ShowReceived(payload);
}

}  // namespace tavrin::app
