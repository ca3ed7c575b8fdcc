// tavrin-cli journal FILE [--since TIME] [--json|--csv]: a station's journal, one unit a
// line, in the order the units were recorded. TIME is UTC, ISO 8601 or a prefix of it
// (2026-12-06, 2026-12-06T08:30); units started at or after it are shown.
#pragma once

#include <string>

namespace tavrin::cli {

enum class JournalFormat { kTable, kJson, kCsv };

struct JournalOptions {
  std::string file;
  std::string since;
  JournalFormat format = JournalFormat::kTable;
};

// Prints the journal on stdout; 0, or 2 when it cannot be read.
int RunJournal(const JournalOptions& options);

// The same, into `out`; an error text on the way out when it cannot be read.
int WriteJournal(const JournalOptions& options, std::string& out, std::string& error);

}  // namespace tavrin::cli
