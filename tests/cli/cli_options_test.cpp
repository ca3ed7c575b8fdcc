// The command line's options, port file names, and the summary of several ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "cli/cli_multi.h"
#include "cli/cli_options.h"
#include "cli/port_run.h"
#include "cli/run_outcome.h"

namespace tavrin::cli {
namespace {

// The options that a row looks at, as one text.
std::string Described(const CliOptions& o) {
  std::string ports;
  for (const auto& name : o.portNames) ports += (ports.empty() ? "" : ",") + name;
  return "command=" + std::to_string(static_cast<int>(o.command)) + " ports=" + ports +
         " first=" + o.port.portName + " baud=" + std::to_string(o.port.baudRate) +
         " data=" + std::to_string(o.port.dataBits) + " parity=" + std::to_string(o.port.parity) +
         " stop=" + std::to_string(o.port.stopBits) + " rts=" + std::to_string(o.port.rtsControl) +
         " trace=" + std::to_string(o.trace) + " json=" + std::to_string(o.json) +
         " timeout=" + (o.timeoutSeconds ? std::to_string(*o.timeoutSeconds) : "-") +
         " retries=" + std::to_string(o.retries) + " output=" + o.output + " log=" + o.log +
         " arg=" + o.argument + ";";
}

struct OptionForm {
  const char* name;
  std::vector<std::string> args;
  int status;                   // -1: the command runs; else the program ends with this status
  std::string shown;            // a part of: the options described (-1), stdout (0), stderr (1)
  std::string absent = "\x01";  // what stdout must not hold (0)
};

void PrintTo(const OptionForm& form, std::ostream* out) {
  *out << testing::PrintToString(form.args);
}

class CliOptionForms : public testing::TestWithParam<OptionForm> {
 protected:
  void SetUp() override {
    // The default port would stand in for a missing --port.
    if (const char* port = std::getenv(kPortEnvironment)) saved_ = port;
    ::unsetenv(kPortEnvironment);
  }
  void TearDown() override {
    if (saved_) ::setenv(kPortEnvironment, saved_->c_str(), 1);
  }
  std::optional<std::string> saved_;
};

TEST_P(CliOptionForms, AreTakenOrEndTheProgram) {
  const OptionForm& form = GetParam();
  const auto parsed = ParseCliOptions(form.args);
  if (form.status < 0) {
    const auto* options = std::get_if<CliOptions>(&parsed);
    ASSERT_NE(options, nullptr) << std::get<CliExit>(parsed).err;
    EXPECT_NE(Described(*options).find(form.shown), std::string::npos) << Described(*options);
    return;
  }
  const auto* end = std::get_if<CliExit>(&parsed);
  ASSERT_NE(end, nullptr) << Described(std::get<CliOptions>(parsed));
  EXPECT_EQ(end->status, form.status);
  const std::string& text = form.status == 0 ? end->out : end->err;
  EXPECT_NE(text.find(form.shown), std::string::npos) << text;
  EXPECT_EQ(end->out.find(form.absent), std::string::npos) << end->out;
  // A usage error is one line, then where the help is.
  if (form.status == 1) {
    EXPECT_TRUE(end->err.starts_with("tavrin-cli: ")) << end->err;
  }
}

const std::string kUp = "command=0";
INSTANTIATE_TEST_SUITE_P(
    Rows, CliOptionForms,
    testing::Values(
        OptionForm{"EqualsForm",
                   {"upload", "--port=a", "--baud=921600", "x.urt"},
                   -1,
                   kUp + " ports=a first=a baud=921600"},
        OptionForm{
            "SpaceForm", {"upload", "--port", "a", "--baud", "921600", "x.urt"}, -1, "baud=921600"},
        OptionForm{"LineSettings",
                   {"upload", "--data-bits=7", "--parity", "even", "--stop-bits=1.5", "--rts",
                    "--trace", "--port", "a", "x.urt"},
                   -1,
                   "data=7 parity=2 stop=1 rts=1 trace=1"},
        OptionForm{"Defaults",
                   {"comtest", "--port", "a", "hi"},
                   -1,
                   "command=2 ports=a first=a baud=115200 data=8 parity=0 stop=0 rts=0 trace=0 "
                   "json=0 timeout=- retries=0 output= log= arg=hi;"},
        OptionForm{"DoubleDashEndsOptions",
                   {"comtest", "--port", "a", "--", "--baud"},
                   -1,
                   "baud=115200 data=8"},
        OptionForm{"DoubleDashTextIsTheArgument",
                   {"comtest", "--port", "a", "--", "--baud"},
                   -1,
                   "arg=--baud;"},
        OptionForm{"PortsRepeatedInOrder",
                   {"upload", "--port", "b", "--port=a", "x.urt"},
                   -1,
                   "ports=b,a first=b"},
        OptionForm{"RepeatedValueKeepsTheLast",
                   {"upload", "--port", "a", "--baud", "9600", "--baud=19200", "x.urt"},
                   -1,
                   "baud=19200"},
        OptionForm{"Download",
                   {"download", "--port", "a", "--output=o.dbf", "--retries", "3", "--timeout",
                    "2.5", "--json", "s.dsf"},
                   -1,
                   "command=1 ports=a first=a"},
        OptionForm{"DownloadValues",
                   {"download", "--port", "a", "--output=o.dbf", "--retries", "3", "--timeout",
                    "2.5", "--json", "s.dsf"},
                   -1,
                   "json=1 timeout=2.500000 retries=3 output=o.dbf log= arg=s.dsf;"},
        OptionForm{"SeveralPortsEachLog",
                   {"comtest", "--port", "a", "--port", "b", "--log", "{port}.log", "hi"},
                   -1,
                   "ports=a,b"},
        OptionForm{"ScriptShow", {"script", "show", "s.dsf"}, -1, "command=3 ports= "},
        OptionForm{"PortsJson", {"ports", "--json"}, -1, "command=4 ports= "},
        OptionForm{"UploadHelp", {"upload", "--help"}, 0, "--confirm S", "--retries"},
        OptionForm{"DownloadHelp", {"download", "-h"}, 0, "--retries N", "--confirm"},
        OptionForm{"HelpNamesTheLineGroup", {"comtest", "--help"}, 0, "--stop-bits 1|1.5|2=1"},
        OptionForm{"HelpAfterOtherOptions", {"upload", "--port", "a", "--help"}, 0, "FILE.URT"},
        OptionForm{"ScriptShowHelp", {"script", "show", "--help"}, 0, "SCRIPT.DSF", "--port"},
        OptionForm{"ProgramHelp", {"--help"}, 0, "comtest"},
        OptionForm{"HelpCommand", {"help"}, 0, "download"},
        OptionForm{"Version", {"--version"}, 0, "tavrin-cli 1.1.0 TVR-STB-001 "},
        OptionForm{"BadBaud",
                   {"upload", "--port", "a", "--baud", "fast", "x.urt"},
                   1,
                   "tavrin-cli: --baud: 'fast' is not a positive number\n"
                   "Run 'tavrin-cli upload --help' for the options.\n"},
        OptionForm{"BadBaudZero",
                   {"upload", "--port", "a", "--baud=0", "x.urt"},
                   1,
                   "--baud: '0' is not a positive number"},
        OptionForm{"BadParity",
                   {"upload", "--port", "a", "--parity=odd2", "x.urt"},
                   1,
                   "--parity: 'odd2' is not none, odd, even, mark or space"},
        OptionForm{"BadDataBits",
                   {"upload", "--port", "a", "--data-bits", "9", "x.urt"},
                   1,
                   "--data-bits: '9' is not 5, 6, 7 or 8"},
        OptionForm{"BadStopBits",
                   {"upload", "--port", "a", "--stop-bits", "3", "x.urt"},
                   1,
                   "--stop-bits: '3' is not 1, 1.5 or 2"},
        OptionForm{"NegativeTimeout",
                   {"upload", "--port", "a", "--timeout", "-1", "x.urt"},
                   1,
                   "--timeout: '-1' is not a positive number of seconds"},
        OptionForm{"TooManyRetries",
                   {"download", "--port", "a", "--retries", "101", "--output", "x", "s"},
                   1,
                   "--retries: '101' is not a number from 0 to 100"},
        OptionForm{"ConfirmZero",
                   {"upload", "--port", "a", "--confirm", "0", "x.urt"},
                   1,
                   "--confirm: '0' is not a positive number of seconds"},
        OptionForm{"EmptyPort", {"upload", "--port", "", "x.urt"}, 1, "--port: needs a port name"},
        OptionForm{"OptionOfAnotherCommand",
                   {"upload", "--port", "a", "--retries", "2", "x.urt"},
                   1,
                   "tavrin-cli: unknown option --retries\n"},
        OptionForm{"UnknownOptionWithValue",
                   {"upload", "--port", "a", "--speed=9", "x.urt"},
                   1,
                   "unknown option --speed\n"},
        OptionForm{"JsonIsNotForScriptShow",
                   {"script", "show", "--json", "s.dsf"},
                   1,
                   "unknown option --json\nRun 'tavrin-cli script show --help'"},
        OptionForm{"MissingValue",
                   {"upload", "--port", "a", "x.urt", "--baud"},
                   1,
                   "--baud needs a value"},
        OptionForm{"MissingPort", {"upload", "x.urt"}, 1, "--port is required"},
        OptionForm{"MissingFile", {"upload", "--port", "a"}, 1, "FILE.URT is required"},
        OptionForm{
            "MissingOutput", {"download", "--port", "a", "s.dsf"}, 1, "--output is required"},
        OptionForm{"ExtraArgument",
                   {"upload", "--port", "a", "x.urt", "y.urt"},
                   1,
                   "unexpected argument 'y.urt'"},
        OptionForm{"UnknownCommand", {"frobnicate"}, 1, "unknown command 'frobnicate'"},
        OptionForm{"NoCommand", {}, 1, "no command given (upload, download, comtest, script"},
        OptionForm{"ScriptWithoutShow", {"script", "s.dsf"}, 1, "unknown command 's.dsf'"},
        OptionForm{"SeveralPortsOneOutput",
                   {"download", "--port", "a", "--port", "b", "--output", "x", "s"},
                   1,
                   "--output: with several ports, it must contain {port}"},
        OptionForm{"SeveralPortsOneLog",
                   {"upload", "--port", "a", "--port", "b", "--log", "x.log", "x.urt"},
                   1,
                   "--log: with several ports, it must contain {port}"}),
    [](const testing::TestParamInfo<OptionForm>& row) { return std::string(row.param.name); });

// TAVRIN_PORT is the port when no --port is given; a --port replaces it.
TEST(CliOptions, TavrinPortIsTheDefaultPort) {
  const char* before = std::getenv(kPortEnvironment);
  const std::optional<std::string> saved =
      before ? std::optional<std::string>(before) : std::nullopt;
  ::setenv(kPortEnvironment, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 1);
  const auto byDefault = ParseCliOptions({"upload", "x.urt"});
  const auto given = ParseCliOptions({"upload", "--port", "ttyUSB1", "x.urt"});
  if (saved) {
    ::setenv(kPortEnvironment, saved->c_str(), 1);
  } else {
    ::unsetenv(kPortEnvironment);
  }
  ASSERT_TRUE(std::holds_alternative<CliOptions>(byDefault));
  EXPECT_EQ(
      std::get<CliOptions>(byDefault).portNames,
      std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"});
  ASSERT_TRUE(std::holds_alternative<CliOptions>(given));
  EXPECT_EQ(std::get<CliOptions>(given).portNames, std::vector<std::string>{"ttyUSB1"});
}

// Port names become safe file names, and stand for {port}.
TEST(PortFileNames, AreSafeAndStandForPort) {
  for (const auto& [given, file] :
       {std::pair{"ttyUSB0", "ttyUSB0"}, std::pair{"/dev/pts/3", "pts_3"},
        std::pair{"pts/3", "pts_3"}, std::pair{"serial:A50285BI", "serial_A50285BI"},
        std::pair{"/tmp/x y", "_tmp_x_y"}, std::pair{"..", "_"}}) {
    EXPECT_EQ(PortFileName(given), file);
    EXPECT_EQ(WithPort("out/{port}-{port}.dbf", PortFileName(given)),
              std::string("out/") + file + "-" + file + ".dbf");
  }
}

// The result is the report block's heading and problem.
TEST(RunOutcome, SummaryColumnsLineUpAndTheStatusIsTheHighest) {
  EXPECT_EQ(ResultText(-2),
            "Error ( -2 ): Packet size greater than 3000.  Tavrin does't support it");
  EXPECT_EQ(ResultText(0), "");
  std::vector<PortOutcome> outcomes(2);
  outcomes[0].port = "ttyUSB10";
  outcomes[0].result = ResultText(1);
  outcomes[0].seconds = 2;
  outcomes[0].bytes = 23040;
  outcomes[1].port = "pts/3";
  outcomes[1].status = 4;
  outcomes[1].result = ResultText(23);
  EXPECT_EQ(SummaryTable(outcomes),
            "PORT      STATUS  RESULT              SECONDS  BYTES/S\n"
            "ttyUSB10       0  Upload Success         2.00    11520\n"
            "pts/3          4  Terminated by user     0.00        0\n");
  EXPECT_EQ(CombinedStatus(outcomes), 4);
  outcomes[0].baud = 115200;
  EXPECT_DOUBLE_EQ(outcomes[0].LineEfficiency(), 1.0);  // 11520 bytes/s fill 115200 baud
}

}  // namespace
}  // namespace tavrin::cli
