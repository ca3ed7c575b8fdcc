// tavrin-cli term: a serial terminal on one port, on the same core as the window.
//
// What the target sends is shown as the output window shows it and goes to the capture;
// the keys typed go to the port one by one, as the terminal screen window sends them, with
// the escape key Ctrl+T for the window's commands (upload, download, cancel, pause, save,
// clear, baud rate, quit). With stdin not a terminal its bytes are sent as they come, and
// the command ends --linger seconds after the end of its input.
//
// Whatever ends it (Ctrl+T q, Ctrl+C, SIGINT, SIGTERM, SIGHUP, the end of input, a fatal
// link error) the user's terminal gets its settings back as they were, and --log / --log-dir
// keep the capture. Exit status: 0 quit or end of input, 1 usage, 3 port not available,
// 6 the serial link failed, 128 + the signal (Ctrl+C counts as SIGINT: 130).
//
// Its options: the one --port, LINE (--trace lists the line's bytes as messages), --timeout
// (for a transfer started in it), --log or --log-dir, and its own (TermOptions).
// AddTermCommand and RunTerm are declared in cli_commands.h.
//
// Threads: the main thread runs the session (keys, questions, commands, the bottom line,
// every end); the engine's threads show what comes in and report through the screen, and
// wake the main thread on a fatal report or a transfer's result.
#pragma once

#include <string>

namespace tavrin::cli {

// The commands after Ctrl+T, one line each, as Ctrl+T h lists them.
std::string TermHelpText();

}  // namespace tavrin::cli
