// The options of station and journal on the command line.
#include <gtest/gtest.h>

#include "cli/cli_options.h"

namespace tavrin::cli {
namespace {

std::string Described(const CliOptions& o) {
  const auto& s = o.station;
  std::string ports;
  for (const auto& name : o.portNames) ports += (ports.empty() ? "" : ",") + name;
  return "ports=" + ports + " baud=" + std::to_string(o.port.baudRate) +
         " units=" + (s.units ? std::to_string(*s.units) : "-") +
         " gap=" + (s.gapSeconds ? std::to_string(*s.gapSeconds) : "-") +
         " confirm=" + (s.confirmSeconds ? std::to_string(*s.confirmSeconds) : "-") +
         " journal=" + s.journal + " to=" + s.journalTo + " logdir=" + o.logDir +
         " json=" + std::to_string(o.json) + " since=" + o.journal.since +
         " csv=" + std::to_string(o.journal.csv) + " arg=" + o.argument + ";";
}

struct Form {
  const char* name;
  std::vector<std::string> args;
  bool taken;
  std::string shown;  // in the options described, or in the usage error
};

void PrintTo(const Form& form, std::ostream* out) {
  *out << testing::PrintToString(form.args);
}

class StationOptionForms : public testing::TestWithParam<Form> {};

TEST_P(StationOptionForms, AreTakenOrRefusedAsUsageErrors) {
  const Form& form = GetParam();
  const auto parsed = ParseCliOptions(form.args);
  if (form.taken) {
    const auto* options = std::get_if<CliOptions>(&parsed);
    ASSERT_NE(options, nullptr) << std::get<CliExit>(parsed).err;
    EXPECT_NE(Described(*options).find(form.shown), std::string::npos) << Described(*options);
    return;
  }
  const auto* end = std::get_if<CliExit>(&parsed);
  ASSERT_NE(end, nullptr) << Described(std::get<CliOptions>(parsed));
  EXPECT_EQ(end->status, 1);
  EXPECT_NE(end->err.find(form.shown), std::string::npos) << end->err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StationOptionForms,
    testing::Values(
        Form{"FourAdapters",
             {"station", "--port",    "serial:A", "--port",    "serial:B", "--port", "serial:C",
              "--port",  "serial:D",  "--units",  "12",        "--gap",    "1.5",    "--confirm",
              "2",       "--journal", "j.db",     "--log-dir", "caps",     "--json", "image.urt"},
             true,
             "ports=serial:A,serial:B,serial:C,serial:D baud=115200 units=12 gap=1.500000 "
             "confirm=2.000000 journal=j.db to= logdir=caps json=1"},
        Form{"PlantDatabase",
             {"station", "--port", "a", "--journal-to", "postgresql://st@db/plant", "x.urt"},
             true,
             "to=postgresql://st@db/plant"},
        Form{"NoUnits", {"station", "--port", "a", "--units", "0", "x.urt"}, false, "--units"},
        Form{"NoGap", {"station", "--port", "a", "--gap", "0", "x.urt"}, false, "--gap"},
        Form{"NotPostgres",
             {"station", "--port", "a", "--journal-to", "db.plant", "x.urt"},
             false,
             "--journal-to"},
        Form{
            "NoTimeout", {"station", "--port", "a", "--timeout", "5", "x.urt"}, false, "--timeout"},
        Form{"NoImage", {"station", "--port", "a"}, false, "FILE.URT"},
        Form{"JournalCsvSince",
             {"journal", "j.db", "--since", "2026-12-06T08:30", "--csv"},
             true,
             "since=2026-12-06T08:30 csv=1 arg=j.db"},
        Form{"JournalBadSince", {"journal", "j.db", "--since", "today"}, false, "--since"},
        Form{"JournalOneFormat", {"journal", "j.db", "--json", "--csv"}, false, "--"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
