// What tavrin-cli term shows for the capture stream, and what the keys typed at it become.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/term_display.h"
#include "cli/term_keys.h"
#include "cli/term_parts.h"
#include "cli/term_screen.h"

namespace tavrin::cli {
namespace {

using terminal::ColourMark;

struct Block {
  std::string bytes;
  ColourMark colour = ColourMark::kNone;
};

struct DisplayRow {
  const char* name;
  DisplayMode mode;
  std::vector<Block> blocks;
  std::string shown;  // everything written, Finish included
};

void PrintTo(const DisplayRow& row, std::ostream* out) {
  *out << row.name;
}

class TermDisplayRules : public testing::TestWithParam<DisplayRow> {};

TEST_P(TermDisplayRules, ShowTheStreamAsTheOutputWindowDoes) {
  TermDisplay display(GetParam().mode, [] { return std::string("T"); });
  std::string shown;
  for (const auto& block : GetParam().blocks) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.bytes.data());
    shown += display.Render({bytes, block.bytes.size()}, block.colour);
  }
  shown += display.Finish();
  EXPECT_EQ(shown, GetParam().shown);
}

constexpr DisplayMode kTerminal{true, true, false, false};
constexpr DisplayMode kLatin1Terminal{true, false, false, false};
constexpr DisplayMode kPipe{false, true, false, false};
constexpr DisplayMode kStamped{true, true, true, false};
constexpr DisplayMode kStampedPipe{false, true, true, false};
constexpr DisplayMode kHexPipe{false, true, false, true};
constexpr DisplayMode kHexTerminal{true, true, false, true};

INSTANTIATE_TEST_SUITE_P(
    Rows, TermDisplayRules,
    testing::Values(
        DisplayRow{
            "CrLfCrAndLfEachBreakOnce", kTerminal, {{"a\r\nb\rc\nd"}}, "a\r\nb\r\nc\r\nd\r\n"},
        DisplayRow{"CrLfSplitAcrossBlocks", kTerminal, {{"a\r"}, {"\nb"}}, "a\r\nb\r\n"},
        DisplayRow{"ControlsAndC1AsBlanksTabKept",
                   kTerminal,
                   {{std::string("\x00\x01\x1b\x7f\x85\x9f\tx", 8)}},
                   "      \tx\r\n"},
        DisplayRow{"Latin1AsUtf8", kTerminal, {{"\xE9\xA0\xFF"}}, "\xC3\xA9\xC2\xA0\xC3\xBF\r\n"},
        DisplayRow{"Latin1OnAnEightBitTerminal", kLatin1Terminal, {{"\xE9"}}, "\xE9\r\n"},
        DisplayRow{"ReportBlocksInTheirColours",
                   kTerminal,
                   {{"ok"}, {"\r\nbad\r\n", ColourMark::kRed}, {"good", ColourMark::kBlue}, {"x"}},
                   "ok\x1b[31m\r\nbad\r\n\x1b[0m\x1b[34mgood\x1b[0mx\r\n"},
        DisplayRow{"PipeByteForByte",
                   kPipe,
                   {{std::string("a\r\n\x01\xE9\r", 6)}, {"\nz", ColourMark::kRed}},
                   std::string("a\r\n\x01\xE9\r\nz", 8)},
        DisplayRow{"StampBeforeEachLineOnceEvenWhenSplit",
                   kStamped,
                   {{"ab"}, {"c\r"}, {"\n\r\nd"}},
                   "[T] abc\r\n[T] \r\n[T] d\r\n"},
        DisplayRow{"StampOutsideTheColour",
                   kStamped,
                   {{"x", ColourMark::kRed}},
                   "\x1b[31m\x1b[0m[T] \x1b[31mx\x1b[0m\r\n"},
        DisplayRow{"StampedPipeKeepsItsBytes", kStampedPipe, {{"a\r\nb"}}, "[T] a\r\n[T] b"},
        DisplayRow{
            "HexRowsOfSixteenTheLastAtTheEnd",
            kHexPipe,
            {{"0123456789ABCDEF\r"}},
            "00000000  30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46  |0123456789ABCDEF|\n"
            "00000010  0D                                                |.|\n"},
        DisplayRow{
            "HexRowRedrawnUntilFullOnATerminal",
            kHexTerminal,
            {{"a"}, {"b", ColourMark::kBlue}},
            "\r\x1b[K00000000  61                                                |a|"
            "\r\x1b[K00000000  61 \x1b[34m62 \x1b[0m                                            "
            "|a\x1b[34mb\x1b[0m|\r\n"}),
    [](const testing::TestParamInfo<DisplayRow>& row) { return std::string(row.param.name); });

TEST(TermDisplay, ClearStartsTheHexOffsetsAgainAndBreakLineEndsAnOpenLine) {
  TermDisplay hex(kHexPipe, [] { return std::string(); });
  const std::uint8_t bytes[] = {'a', 'b'};
  hex.Render(bytes, ColourMark::kNone);
  hex.Clear();
  hex.Render(bytes, ColourMark::kNone);
  EXPECT_EQ(hex.Finish().substr(0, 12), "00000000  61");

  TermDisplay text(kStamped, [] { return std::string("T"); });
  EXPECT_EQ(text.BreakLine(), "");  // nothing open yet
  text.Render(bytes, ColourMark::kNone);
  EXPECT_EQ(text.BreakLine(), "\r\n");
  EXPECT_EQ(text.Render(bytes, ColourMark::kNone), "[T] ab");  // a new line, a new stamp
}

struct KeyRow {
  const char* name;
  bool utf8;
  std::string typed;
  std::vector<KeyAction> actions;
};

void PrintTo(const KeyRow& row, std::ostream* out) {
  *out << row.name;
}

class TermKeys : public testing::TestWithParam<KeyRow> {};

TEST_P(TermKeys, BecomeWhatTheTerminalWindowSends) {
  KeyDecoder keys(GetParam().utf8, std::uint8_t{0x7F});
  std::vector<KeyAction> actions;
  for (const char c : GetParam().typed) {  // one key at a time, as a user types
    const std::uint8_t byte = static_cast<std::uint8_t>(c);
    for (const auto& action : keys.Feed({&byte, 1})) actions.push_back(action);
  }
  EXPECT_EQ(actions, GetParam().actions);
}

KeyAction Send(std::uint8_t byte) {
  return {KeyAction::Kind::kSend, byte};
}
KeyAction Command(char key) {
  return {KeyAction::Kind::kCommand, static_cast<std::uint8_t>(key)};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TermKeys,
    testing::Values(
        KeyRow{"PlainKeysOneByOne", true, "a\r", {Send('a'), Send('\r')}},
        KeyRow{"EraseSendsBackspace", true, "\x7F", {Send(0x08)}},
        KeyRow{"Latin1CharacterAsItsByte", true, "\xC3\xA9", {Send(0xE9)}},
        KeyRow{"BeyondLatin1SendsItsLowByte",
               true,
               "\xE2\x82\xAC"
               "\xF0\x9F\x99\x82"
               "b",
               {Send(0xAC), Send(0x42), Send('b')}},
        KeyRow{"StrayContinuationSendsNothing",
               true,
               "\xA9"
               "c",
               {Send('c')}},
        KeyRow{"EightBitTerminalSendsBytes", false, "\xE9", {Send(0xE9)}},
        KeyRow{"EscapeThenLetterIsACommand", true, "\x14u\x14Q", {Command('u'), Command('q')}},
        KeyRow{"EscapeTwiceSendsIt", true, "\x14\x14", {Send(0x14)}},
        KeyRow{"EscapeCtrlCSendsCtrlC", true, "\x14\x03", {Send(0x03)}},
        KeyRow{"CtrlCAloneEnds", true, "\x03", {KeyAction{KeyAction::Kind::kInterrupt}}}),
    [](const testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

PromptEditor::State FeedEach(PromptEditor& prompt, const std::vector<std::string>& reads) {
  auto state = PromptEditor::State::kEditing;
  for (const auto& read : reads) {
    state = prompt.Feed({reinterpret_cast<const std::uint8_t*>(read.data()), read.size()});
  }
  return state;
}

TEST(TermPrompt, EditsAndAnswersOrGivesUp) {
  const struct {
    std::vector<std::string> reads;
    PromptEditor::State state;
    std::string text;
  } rows[] = {
      {{"b.urt\r"}, PromptEditor::State::kDone, "a.urtb.urt"},
      {{"\x15", "x/\xC3\xA9", "\x7F", "\x7F", "y\r"}, PromptEditor::State::kDone, "xy"},
      {{"\x1b[D", "\x1bOA", "z\n"}, PromptEditor::State::kDone, "a.urtz"},  // cursor keys let be
      {{"q", "\x1b"}, PromptEditor::State::kAborted, "a.urtq"},             // a lone Escape
      {{"q\x03"}, PromptEditor::State::kAborted, "a.urtq"},
  };
  PromptEditor pasted("File: ", "");
  EXPECT_EQ(FeedEach(pasted, {"a\rb"}), PromptEditor::State::kDone);
  EXPECT_EQ(pasted.Used(), 2u);  // what follows the answer is not the question's
  for (const auto& row : rows) {
    PromptEditor prompt("File: ", "a.urt");
    EXPECT_EQ(FeedEach(prompt, row.reads), row.state) << row.text;
    EXPECT_EQ(prompt.Text(), row.text);
  }
}

TEST(TermScreen, TheBottomLineFitsItsRowWithoutCuttingACharacter) {
  EXPECT_EQ(FitBottom("short", 80, false), "short");
  EXPECT_EQ(FitBottom("abcdef", 5, false), "abcd");
  EXPECT_EQ(FitBottom("abcdef", 5, true), "cdef");  // a question keeps where the typing is
  EXPECT_EQ(FitBottom("\xC3\xA9\xC3\xA9\xC3\xA9", 3, false), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FitBottom("\xC3\xA9\xC3\xA9\xC3\xA9", 3, true), "\xC3\xA9\xC3\xA9");
}

}  // namespace
}  // namespace tavrin::cli

namespace tavrin::cli {
namespace {

TEST(TermQuestions, ReadPathsAndBaudRatesAsTyped) {
  EXPECT_EQ(PathTyped("  ~/img/a.urt ", "/home/u"), "/home/u/img/a.urt");
  EXPECT_EQ(PathTyped("~", "/home/u"), "/home/u");
  EXPECT_EQ(PathTyped("~x/a", "/home/u"), "~x/a");  // another user's home: left as typed
  EXPECT_EQ(PathTyped("   ", "/home/u"), "");
  EXPECT_EQ(PathTyped("~/a", nullptr), "~/a");
  EXPECT_EQ(BaudTyped("921600"), 921600u);
  EXPECT_EQ(BaudTyped("0"), std::nullopt);
  EXPECT_EQ(BaudTyped("96OO"), std::nullopt);
  EXPECT_EQ(BaudTyped(""), std::nullopt);
  EXPECT_EQ(SignalStatus(SIGHUP), 129);
}

}  // namespace
}  // namespace tavrin::cli

namespace tavrin::cli {
namespace {

TEST(TermOptions, AreTakenOrAreAUsageError) {
  const auto parsed = ParseCliOptions(
      {"term", "--port", "ttyUSB0", "--baud", "9600", "--timestamps", "--hex", "--linger=0"});
  const auto* options = std::get_if<CliOptions>(&parsed);
  ASSERT_NE(options, nullptr) << std::get<CliExit>(parsed).err;
  EXPECT_EQ(options->command, Command::kTerm);
  EXPECT_EQ(options->port.portName, "ttyUSB0");
  EXPECT_EQ(options->port.baudRate, 9600u);
  EXPECT_TRUE(options->term.timestamps && options->term.hex);
  EXPECT_EQ(options->term.lingerSeconds, 0.0);
  const auto defaults = ParseCliOptions({"term", "--port", "a"});
  EXPECT_EQ(std::get<CliOptions>(defaults).term.lingerSeconds, kDefaultLingerSeconds);

  const struct {
    std::vector<std::string> args;
    std::string error;
  } rows[] = {
      {{"term", "--port", "a", "--port", "b"}, "one port"},
      {{"term", "--port", "a", "--log", "x", "--log-dir", "d"}, "--log-dir"},
      {{"term", "--port", "a", "--json"}, "--json"},
      {{"term", "--port", "a", "--linger", "-1"}, "--linger"},
      {{"term", "--port", "a", "x.urt"}, "x.urt"},
  };
  for (const auto& row : rows) {
    const auto refused = ParseCliOptions(row.args);
    const auto* end = std::get_if<CliExit>(&refused);
    ASSERT_NE(end, nullptr) << row.error;
    EXPECT_EQ(end->status, exit_status::kUsage);
    EXPECT_NE(end->err.find(row.error), std::string::npos) << end->err;
  }
}

}  // namespace
}  // namespace tavrin::cli
