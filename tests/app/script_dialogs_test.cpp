// The download script dialogs on a script store in a private directory. The script
// information dialog that Add and Edit open modally is answered from inside its own loop.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QKeyEvent>
#include <QRadioButton>
#include <QTableWidget>
#include <filesystem>
#include <functional>

#include "app/script_info_dialog.h"
#include "app/script_list_dialog.h"
#include "qt_test_support.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

using F = ScriptInfoField;
using Starts = std::vector<std::string>;

ScriptInfoFields FlashFields(const char* start, const char* end) {
  ScriptInfoFields fields;
  fields.startAddress = QString::fromLatin1(start);
  fields.endAddress = QString::fromLatin1(end);
  fields.deviceId = QStringLiteral("1A2B");
  return fields;
}

class ScriptDialogs : public ::testing::Test {
 protected:
  // Runs `command` of `list` and `answer` on the script information dialog it opens, which
  // is cancelled if the answer leaves it open.
  void AnswerInfo(ScriptListDialog& list, void (ScriptListDialog::*command)(),
                  const std::function<void(ScriptInfoDialog&)>& answer) {
    bool answered = false;
    QTimer::singleShot(0, &list, [&] {
      auto* info = list.findChild<ScriptInfoDialog*>();
      ASSERT_NE(info, nullptr);
      answered = true;
      answer(*info);
      if (info->isVisible()) info->reject();
    });
    (list.*command)();
    EXPECT_TRUE(answered);
  }
  void AddRecord(ScriptListDialog& list, const ScriptInfoFields& fields) {
    AnswerInfo(list, &ScriptListDialog::Add, [&](ScriptInfoDialog& info) {
      info.SetFields(fields);
      info.Ok();
    });
  }
  static Starts StartColumn(const ScriptListDialog& list) {
    Starts starts;
    for (int row = 0; row < list.List()->rowCount(); ++row) {
      starts.push_back(list.RowTexts(row).startAddress);
    }
    return starts;
  }
  static bool RecordButtonsOn(const ScriptListDialog& list) {
    const bool on = list.EditButton()->isEnabled();
    EXPECT_EQ(list.DeleteButton()->isEnabled(), on);
    EXPECT_EQ(list.SaveAsButton()->isEnabled(), on);
    return on;
  }

  tavrin::test::TempDir dir_;
  scripts::ScriptStore store_{dir_.Path()};
  testing::FakePrompts prompts_;
};

TEST_F(ScriptDialogs, RowsSelectionAndButtonsFollowAddsAndDeletes) {
  ScriptListDialog list(store_, prompts_, nullptr);
  EXPECT_FALSE(RecordButtonsOn(list));

  AddRecord(list, FlashFields("00001000", "00001FFF"));
  AddRecord(list, FlashFields("00002000", "00002FFF"));
  AddRecord(list, FlashFields("00003000", "00003FFF"));
  EXPECT_EQ(StartColumn(list), (Starts{"00001000", "00002000", "00003000"}));
  EXPECT_EQ(list.SelectionMark(), 2);
  EXPECT_TRUE(RecordButtonsOn(list));
  EXPECT_EQ(list.RowTexts(0),
            (scripts::ScriptListRow{"00001000", "00001FFF", "FLASH", "Active Database", "1A2B"}));
  prompts_.fileAnswers = {QString::fromStdString((dir_ / "saved.dsf").string())};
  list.SaveAs();
  EXPECT_EQ(std::filesystem::file_size(dir_ / "saved.dsf"), 8u + 3u * 32u);  // header, records
  ASSERT_EQ(prompts_.dialogs.size(), 1u);
  EXPECT_EQ(prompts_.dialogs[0].title, "Save");
  EXPECT_EQ(prompts_.dialogs[0].filters, QStringList{"Download Script File (*.DSF) (*.dsf)"});
  EXPECT_EQ(prompts_.dialogs[0].defaultSuffix, "dsf");
  EXPECT_TRUE(prompts_.dialogs[0].confirmOverwrite);

  list.List()->selectRow(0);
  list.Delete();
  EXPECT_EQ(StartColumn(list), (Starts{"00002000", "00003000"}));
  EXPECT_EQ(store_.ReadRecord(1)->command.startAddress, 0x2000u);
  EXPECT_EQ(list.SelectionMark(), 1);  // the last row, whichever was deleted

  list.Delete();
  list.Delete();
  EXPECT_TRUE(StartColumn(list).empty());
  EXPECT_EQ(list.SelectionMark(), -1);
  EXPECT_FALSE(RecordButtonsOn(list));
  EXPECT_FALSE(std::filesystem::exists(store_.Paths().scriptStore));
  EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(ScriptDialogs,
       CancelledAddAndEditChangeNothingAcceptedEditReplacesTheRowAndNoSelectionIsSaid) {
  ScriptListDialog list(store_, prompts_, nullptr);
  AddRecord(list, FlashFields("00001000", "00001FFF"));
  AnswerInfo(list, &ScriptListDialog::Add, [](ScriptInfoDialog&) {});
  const scripts::ScriptRecord before = *store_.ReadRecord(1);
  AnswerInfo(list, &ScriptListDialog::Edit, [](ScriptInfoDialog& info) {
    EXPECT_EQ(info.Fields().startAddress, "1000");  // shown without leading zeros
    info.SetFields(FlashFields("00000000", "0000FFFF"));
  });
  EXPECT_EQ(store_.RecordCount(), 1u);
  EXPECT_EQ(*store_.ReadRecord(1), before);
  EXPECT_EQ(StartColumn(list), (Starts{"00001000"}));

  AnswerInfo(list, &ScriptListDialog::Edit, [](ScriptInfoDialog& info) {
    ScriptInfoFields fields = info.Fields();
    fields.flash = false;
    fields.startAddress = QStringLiteral("ab");
    fields.imageType = 6;
    info.SetFields(fields);
    info.Ok();
  });
  EXPECT_EQ(list.RowTexts(0), (scripts::ScriptListRow{"AB", "1FFF", "EEPROM", "Others", "1A2B"}));
  EXPECT_EQ(store_.ReadRecord(1)->command.startAddress, 0xABu);
  EXPECT_EQ(store_.ReadRecord(1)->command.memoryType, scripts::kMemoryTypeEeprom);
  EXPECT_EQ(list.SelectionMark(), 0);

  // Without a selected row Edit and Delete only say so: no dialog opens.
  list.List()->clearSelection();
  list.Edit();
  list.Delete();
  EXPECT_EQ(prompts_.Texts(), (QStringList{kSelectScriptToEdit, kSelectScriptToDelete}));
  EXPECT_EQ(prompts_.messages[1].icon, PromptIcon::kExclamation);
  EXPECT_EQ(store_.RecordCount(), 1u);
}

// OK is pressed again after each message, with the named field put right; every message
// comes in its turn, with the focus on its field.
TEST_F(ScriptDialogs, ValidationNamesTheFirstFaultyFieldInOrder) {
  struct Step {
    const char* message;
    F focus;
    const char* fieldAfter;  // the field's text after the message
    const char* fix;         // then typed into it
  };
  const Step steps[] = {
      {kStartAddress4Bytes, F::kStartAddress, "1234", ""},
      {kStartAddressMissing, F::kStartAddress, "", "00020000"},
      {kEndAddress4Bytes, F::kEndAddress, "12", ""},
      {kEndAddressMissing, F::kEndAddress, "", "0001FFFF"},
      {kEndBelowStart, F::kEndAddress, "0001FFFF", "0002FFFF"},
      {kDeviceIdMissing, F::kDeviceId, "", "7"},
      {kAbove255, F::kMaxLnbRecords, "256", "000"},
      {kMaxLnbMissing, F::kMaxLnbRecords, "", "255"},
      {kAbove65535, F::kBlockSize, "65536", "0"},
      {kBlockSizeMissing, F::kBlockSize, "", "512"},
      {kAbove65535, F::kTotalBlocks, "99999", ""},
      {kTotalBlocksMissing, F::kTotalBlocks, "", "16"},
  };
  ScriptInfoDialog info(store_, prompts_, nullptr);
  ScriptInfoFields fields = FlashFields("1234", "12");
  fields.deviceId.clear();
  fields.partitionId = kLsdPosition;
  fields.partitionType = kMbpPosition;
  fields.maxLnbRecords = QStringLiteral("256");
  fields.blockSize = QStringLiteral("65536");
  fields.totalBlocks = QStringLiteral("99999");
  info.SetFields(fields);

  for (const Step& step : steps) {
    SCOPED_TRACE(step.message);
    prompts_.messages.clear();
    info.Ok();
    EXPECT_EQ(prompts_.Texts(), QStringList{step.message});
    EXPECT_EQ(prompts_.messages.at(0).icon, PromptIcon::kExclamation);
    EXPECT_EQ(info.focusWidget(), info.Edit(step.focus));
    EXPECT_EQ(info.Edit(step.focus)->text(), step.fieldAfter);
    info.Edit(step.focus)->setText(QString::fromLatin1(step.fix));
  }
  EXPECT_EQ(store_.RecordCount(), 0u);
  prompts_.messages.clear();
  info.Ok();
  EXPECT_TRUE(prompts_.messages.empty());
  ASSERT_EQ(store_.RecordCount(), 1u);
  const scripts::HeaderData stored = store_.ReadRecord(1)->header;
  EXPECT_EQ(stored.maxLnbRecords, 255);
  EXPECT_EQ(stored.blockSize, 512u);
  EXPECT_EQ(stored.totalBlocks, 16);
  EXPECT_EQ(stored.partitionId, 2);
  EXPECT_EQ(stored.size, 0xFFFFu);
  EXPECT_EQ(store_.ReadRecord(1)->command.deviceId, 7u);
}

// Short EEPROM addresses are accepted in the edit test.
TEST_F(ScriptDialogs, AnEmptyRegionIsAcceptedWithSizeZero) {
  const ScriptInfoFields fields = FlashFields("0000FFFF", "0000FFFF");
  EXPECT_EQ(ValidateScriptInfo(fields), std::nullopt);
  EXPECT_EQ(BuildScriptRecord(fields).header.size, 0u);
}

TEST_F(ScriptDialogs, HexFieldsUndoAWrongKeystrokeOrPasteAsAWhole) {
  ScriptInfoDialog info(store_, prompts_, nullptr);
  QLineEdit* device = info.Edit(F::kDeviceId);
  for (const char* key : {"1", "a", "G"}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(key));
    QApplication::sendEvent(device, &press);
  }
  EXPECT_EQ(device->text(), "1A");  // capitals; the G never shows

  QLineEdit* start = info.Edit(F::kStartAddress);
  QGuiApplication::clipboard()->setText(QStringLiteral("12G4"));
  start->paste();
  EXPECT_EQ(start->text(), "");
  QGuiApplication::clipboard()->setText(QStringLiteral("12f4"));
  start->paste();
  EXPECT_EQ(start->text(), "12F4");
}

// A field opens with its label for its partition choice only (that it opens is also
// needed by the validation test), and empties when it closes.
TEST_F(ScriptDialogs, DependentFieldsOpenOnlyForTheirChoiceAndEmptyWhenClosed) {
  ScriptInfoDialog info(store_, prompts_, nullptr);
  EXPECT_TRUE(info.FlashButton()->isChecked());
  EXPECT_EQ(info.ImageTypeList()->currentText(), "Active Database");
  EXPECT_EQ(info.PartitionIdList()->currentText(), "eDBE ");
  EXPECT_EQ(info.PartitionTypeList()->currentText(), "SBP ");
  const auto open = [&](F field) {
    EXPECT_EQ(info.Label(field)->isEnabled(), info.Edit(field)->isEnabled());
    return info.Edit(field)->isEnabled();
  };
  EXPECT_FALSE(open(F::kMaxLnbRecords));
  EXPECT_FALSE(open(F::kBlockSize));

  info.PartitionIdList()->setCurrentIndex(kLsdPosition);
  info.Edit(F::kMaxLnbRecords)->setText(QStringLiteral("12"));
  info.PartitionIdList()->setCurrentIndex(3);
  EXPECT_FALSE(open(F::kMaxLnbRecords));
  EXPECT_EQ(info.Edit(F::kMaxLnbRecords)->text(), "");

  info.PartitionTypeList()->setCurrentIndex(kMbpPosition);
  info.Edit(F::kBlockSize)->setText(QStringLiteral("512"));
  info.Edit(F::kTotalBlocks)->setText(QStringLiteral("4"));
  info.PartitionTypeList()->setCurrentIndex(0);
  EXPECT_FALSE(open(F::kTotalBlocks));
  EXPECT_EQ(info.Edit(F::kBlockSize)->text(), "");
  EXPECT_EQ(info.Edit(F::kTotalBlocks)->text(), "");

  // Edit of a single-block record of partition LSD.
  scripts::ScriptRecord record = BuildScriptRecord(FlashFields("00001000", "00001FFF"));
  record.header.partitionId = scripts::kPartitionIdLsd;
  record.header.maxLnbRecords = 40;
  ScriptInfoDialog edit(store_, 1, record, prompts_, nullptr);
  EXPECT_EQ(edit.Edit(F::kMaxLnbRecords)->text(), "40");
  EXPECT_TRUE(edit.Edit(F::kMaxLnbRecords)->isEnabled());
  EXPECT_FALSE(edit.Edit(F::kBlockSize)->isEnabled());
}

}  // namespace
}  // namespace tavrin::app
