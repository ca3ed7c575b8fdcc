// The "COM Port Testing" dialog: text typed into the Transmitter goes to the target as one
// test frame (0x02, 16-bit big-endian length, the text, 0x03); while the dialog is open
// every block the port receives goes to the COM test instead of the output window, and the
// Receiver shows the payload of each test frame that comes back.
//
// The core shows received payloads on its reader/status thread through one ComTestView,
// handed to it when it is built, before any dialog exists: ComTestRelay. The relay copies
// each payload and queues it to the UI thread, where it goes to the dialog that is open, if
// any. The relay lives on the UI thread and outlives the core that calls it.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <vector>

#include "app/user_prompts.h"
#include "core/port_core.h"
#include "serial/com_test.h"

class QPlainTextEdit;
class QPushButton;

namespace tavrin::app {

class ComTestRelay;

// The bytes sent for the Transmitter's text: its line breaks as CR LF, each character one
// byte (Latin-1; a character without one is sent as "?").
QByteArray TransmitBytes(const QString& text);
// The Receiver's text for a payload: up to its first zero byte, read as Latin-1, CR LF
// shown as one line break.
QString ReceivedText(const QByteArray& payload);

class ComTestDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResourceId = 112;
  static constexpr int kTransmitterId = 1033;
  static constexpr int kReceiverId = 1035;
  static constexpr int kSendId = 1034;
  static constexpr int kClearTransmitterId = 1036;
  static constexpr int kClearReceiverId = 1038;
  static constexpr int kCloseId = 2;
  static constexpr QSize kSizeUnits{361, 226};

  // Opens the test: from now on every received block goes to it.
  ComTestDialog(core::PortCore& core, ComTestRelay& relay, UserPrompts& prompts, QWidget* parent);
  // Closes the test if the dialog was not closed.
  ~ComTestDialog() override;

  // "Send": the Transmitter's text as one test frame; more than 3000 characters are
  // refused with a message. The Transmitter keeps its text.
  void Send();
  // A payload that came back, shown as the Receiver's whole text. UI thread.
  void ShowReceived(const QByteArray& payload);
  // Close, Escape and the close box end the test, and the dialog with 1.
  void done(int result) override;

  QPlainTextEdit* Transmitter() const { return transmitter_; }
  QPlainTextEdit* Receiver() const { return receiver_; }
  QPushButton* SendButton() const { return send_; }
  QPushButton* ClearTransmitterButton() const { return clearTransmitter_; }
  QPushButton* ClearReceiverButton() const { return clearReceiver_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  void BuildWidgets();
  void EndTest();

  core::PortCore& core_;
  ComTestRelay& relay_;
  UserPrompts& prompts_;
  bool active_ = false;

  QPlainTextEdit* transmitter_ = nullptr;
  QPlainTextEdit* receiver_ = nullptr;
  QPushButton* send_ = nullptr;
  QPushButton* clearTransmitter_ = nullptr;
  QPushButton* clearReceiver_ = nullptr;
  QPushButton* close_ = nullptr;
};

class ComTestRelay final : public QObject, public serial::ComTestView {
 public:
  explicit ComTestRelay(QObject* parent = nullptr) : QObject(parent) {}

  // Reader/status thread: copies the payload and queues it to the UI thread.
  void ShowReceived(std::vector<std::uint8_t> payload) override;

  // UI thread: the dialog that receives payloads from now on (null: none).
  void Attach(ComTestDialog* dialog);
  // UI thread: `dialog` closes; payloads still queued for it are dropped.
  void Detach(const ComTestDialog* dialog);

 private:
  void Deliver(const QByteArray& payload);

  QPointer<ComTestDialog> dialog_;  // UI thread only
};

}  // namespace tavrin::app
