#include "cli/cli_commands.h"

namespace tavrin::cli {
namespace {

constexpr CommandRow kCommands[] = {
    {"upload", "send a URT image to each target", Command::kUpload, AddUploadCommand, RunTransfers},
    {"download", "fetch each target's memory as a DSF script asks", Command::kDownload,
     AddDownloadCommand, RunTransfers},
    {"comtest", "send a test frame and show what comes back", Command::kComTest, AddComTestCommand,
     RunTransfers},
    {"script", "show a download script's records", Command::kScriptShow, AddScriptCommand,
     ShowScript},
    {"ports", "list the serial ports of this machine", Command::kPorts, AddPortsCommand, ShowPorts},
    {"term", "a serial terminal on one port (Ctrl+T h: its keys)", Command::kTerm, AddTermCommand,
     RunTerm},
    {"station", "load box after box on each port and journal every unit", Command::kStation,
     AddStationCommand, RunStationCommand},
    {"journal", "show a station's journal", Command::kJournal, AddJournalCommand,
     RunJournalCommand},
};

}  // namespace

std::span<const CommandRow> Commands() {
  return kCommands;
}

}  // namespace tavrin::cli
