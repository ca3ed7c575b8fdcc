// The installation as the packages carry it: `cmake --install` of this build into a
// scratch DESTDIR, then what an operator's machine would get from it is checked: the exact
// set of files, no trace of the build tree, the desktop entry and metainfo as the
// desktop's own validators see them, the installed programs running, every option of
// each program's --help in its man page, and the bash completion.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDesktopId = "io.github.tavrin.Tavrin";
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

struct RunResult {
  int status = -1;     // the exit status, -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};

// Runs a shell command line; what it writes is read to its end.
RunResult Shell(const std::string& command) {
  RunResult result;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  for (const char c : path.string()) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool HasTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null").status == 0;
}

bool BuiltTheWindow() {
  return fs::exists(fs::path(TAVRIN_BINARY_DIR) / "src/app/tavrin");
}

class Installed : public ::testing::Test {
 protected:
  // One install for the whole suite: it is what every test looks at.
  static void SetUpTestSuite() {
    root_ = new TempDir();
    const RunResult install =
        Shell("DESTDIR=" + Quoted(Root()) + " " + Quoted(TAVRIN_CMAKE_COMMAND) + " --install " +
              Quoted(TAVRIN_BINARY_DIR) + " --prefix /usr");
    installStatus_ = install.status;
    installOutput_ = install.output;
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(installStatus_, 0) << installOutput_; }

  static fs::path Root() { return root_->Path() / "root"; }
  static fs::path Usr() { return Root() / "usr"; }
  static fs::path Scratch() { return root_->Path(); }

  // The man page's text with the roff escapes that hide an option's name taken out: font
  // changes (\fB, \fI, \fR, \fP, \f[..]) and the escaped dash (\-).
  static std::string ManPageText(const std::string& page) {
    const fs::path file = Usr() / "share/man/man1" / (page + ".1.gz");
    const std::string roff = Shell("gzip -dc " + Quoted(file)).output;
    std::string text;
    for (std::size_t i = 0; i < roff.size(); ++i) {
      if (roff[i] != '\\' || i + 1 >= roff.size()) {
        text += roff[i];
      } else if (roff[i + 1] == '-') {
        text += '-';
        ++i;
      } else if (roff[i + 1] == 'f' && i + 2 < roff.size()) {
        i += 2;
        if (roff[i] == '[') i = std::min(roff.find(']', i), roff.size() - 1);
      } else {
        text += roff[i];
      }
    }
    return text;
  }

 private:
  static TempDir* root_;
  static int installStatus_;
  static std::string installOutput_;
};

TempDir* Installed::root_ = nullptr;
int Installed::installStatus_ = -1;
std::string Installed::installOutput_;

std::set<std::string> ExpectedFiles() {
  std::set<std::string> files = {
      "usr/bin/tavrin-cli",
      "usr/bin/tavrin-target-sim",
      "usr/bin/tavrin-sample-files",
      "usr/share/man/man1/tavrin-cli.1.gz",
      "usr/share/man/man1/tavrin-target-sim.1.gz",
      "usr/share/man/man1/tavrin-sample-files.1.gz",
      "usr/share/bash-completion/completions/tavrin-cli",
  };
  std::vector<std::string> packages = {"tavrin-cli", "tavrin-target-sim"};
  if (BuiltTheWindow()) {
    packages.push_back("tavrin");
    const std::string id = kDesktopId;
    files.insert({"usr/bin/tavrin", "usr/share/man/man1/tavrin.1.gz",
                  "usr/share/applications/" + id + ".desktop",
                  "usr/share/metainfo/" + id + ".metainfo.xml",
                  "usr/share/icons/hicolor/scalable/apps/" + id + ".svg"});
    for (const int size : kIconSizes) {
      const std::string folder = std::to_string(size) + "x" + std::to_string(size);
      files.insert("usr/share/icons/hicolor/" + folder + "/apps/" + id + ".png");
    }
  }
  for (const auto& package : packages) {
    for (const char* doc : {"README.md", "copyright", "changelog.Debian.gz"}) {
      files.insert("usr/share/doc/" + package + "/" + doc);
    }
    files.insert("usr/share/lintian/overrides/" + package);
  }
  return files;
}

TEST_F(Installed, HoldsExactlyTheFilesOfThePackages) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(Root())) {
    if (!entry.is_directory()) found.insert(fs::relative(entry.path(), Root()).string());
  }
  const std::set<std::string> expected = ExpectedFiles();
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                      std::back_inserter(missing));
  std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "not meant to be installed: " << ::testing::PrintToString(extra);
  for (const auto& program : fs::directory_iterator(Usr() / "bin")) {
    const auto permissions = fs::status(program).permissions();
    EXPECT_NE(permissions & fs::perms::others_exec, fs::perms::none) << program.path();
  }
}

// An installed file that names the build tree works on the machine that built it only.
TEST_F(Installed, NamesNoPathOfTheBuildTree) {
  ASSERT_TRUE(HasTool("readelf")) << "readelf (binutils) is not installed";
  for (const auto& program : fs::directory_iterator(Usr() / "bin")) {
    const RunResult dynamic = Shell("readelf -d " + Quoted(program.path()));
    ASSERT_EQ(dynamic.status, 0) << dynamic.output;
    EXPECT_EQ(dynamic.output.find("RPATH"), std::string::npos) << program.path();
    EXPECT_EQ(dynamic.output.find("RUNPATH"), std::string::npos) << program.path();
  }
  std::vector<std::string> texts;
  for (const auto& entry : fs::recursive_directory_iterator(Usr() / "share")) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().string();
    texts.push_back(name.ends_with(".gz") ? Shell("gzip -dc " + Quoted(entry.path())).output
                                          : ReadFile(entry.path()));
    for (const char* tree : {TAVRIN_BINARY_DIR, TAVRIN_SOURCE_DIR}) {
      EXPECT_EQ(texts.back().find(tree), std::string::npos) << name << " names " << tree;
    }
    EXPECT_EQ(texts.back().find("@PROJECT_"), std::string::npos)
        << name << " holds a placeholder the build did not fill in";
  }
}

// The value of a desktop entry's key, or "".
std::string KeyValue(const std::string& entry, const std::string& key) {
  const std::string start = "\n" + key + "=";
  const auto at = entry.find(start);
  if (at == std::string::npos) return {};
  const auto from = at + start.size();
  return entry.substr(from, entry.find('\n', from) - from);
}

TEST_F(Installed, DesktopEntryAndMetainfoPassTheDesktopsValidatorsAndAgree) {
  if (!BuiltTheWindow()) GTEST_SKIP() << "built without the window";
  ASSERT_TRUE(HasTool("desktop-file-validate")) << "desktop-file-utils is not installed";
  ASSERT_TRUE(HasTool("appstreamcli")) << "appstream is not installed";
  const std::string id = kDesktopId;
  const fs::path desktop = Usr() / "share/applications" / (id + ".desktop");
  const fs::path metainfo = Usr() / "share/metainfo" / (id + ".metainfo.xml");
  const RunResult desktopCheck = Shell("desktop-file-validate " + Quoted(desktop));
  EXPECT_EQ(desktopCheck.status, 0) << desktopCheck.output;
  EXPECT_EQ(desktopCheck.output, "");
  const RunResult metainfoCheck = Shell("appstreamcli validate --no-net " + Quoted(metainfo));
  EXPECT_EQ(metainfoCheck.status, 0) << metainfoCheck.output;
  EXPECT_EQ(metainfoCheck.output.find("W:"), std::string::npos) << metainfoCheck.output;

  // The entry starts an installed program and shows an installed icon; the metainfo
  // names the entry.
  const std::string entry = ReadFile(desktop);
  const std::string exec = KeyValue(entry, "Exec");
  const std::string program = exec.substr(0, exec.find(' '));
  ASSERT_FALSE(program.empty()) << entry;
  EXPECT_TRUE(fs::exists(Usr() / "bin" / program)) << program;
  const std::string icon = KeyValue(entry, "Icon");
  ASSERT_FALSE(icon.empty()) << entry;
  EXPECT_TRUE(fs::exists(Usr() / "share/icons/hicolor/48x48/apps" / (icon + ".png"))) << icon;
  EXPECT_TRUE(fs::exists(Usr() / "share/icons/hicolor/scalable/apps" / (icon + ".svg"))) << icon;
  EXPECT_NE(entry.find("\nTerminal=false"), std::string::npos);
  const std::string meta = ReadFile(metainfo);
  EXPECT_NE(meta.find("<id>" + id + "</id>"), std::string::npos);
  EXPECT_NE(meta.find(">" + id + ".desktop</launchable>"), std::string::npos);
}

// The release notes of the version being built: the changelog that the packages carry
// and the metainfo's newest release.
TEST_F(Installed, ChangelogAndMetainfoNameTheVersionBeingBuilt) {
  const std::string version = TAVRIN_PROJECT_VERSION;
  const std::string changelog =
      Shell("gzip -dc " + Quoted(Usr() / "share/doc/tavrin-cli/changelog.Debian.gz")).output;
  EXPECT_TRUE(changelog.starts_with("tavrin (" + version + "-1)")) << changelog.substr(0, 40);
  if (BuiltTheWindow()) {
    const std::string meta =
        ReadFile(Usr() / "share/metainfo" / (std::string(kDesktopId) + ".metainfo.xml"));
    const auto first = meta.find("<release ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(meta.find("version=\"" + version + "\"", first), meta.find("version=", first));
  }
}

TEST_F(Installed, ProgramsGiveTheirVersionWithoutADisplay) {
  const std::string version = TAVRIN_PROJECT_VERSION;
  std::vector<std::string> programs = {"tavrin-cli"};
  if (BuiltTheWindow()) programs.push_back("tavrin");
  for (const auto& program : programs) {
    const RunResult run = Shell("cd " + Quoted(Scratch()) +
                                " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                Quoted(Usr() / "bin" / program) + " --version");
    EXPECT_EQ(run.status, 0) << program << ": " << run.output;
    EXPECT_TRUE(run.output.starts_with(program + " " + version)) << run.output;
  }
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Every option name that a program's help text shows: "--" and then lower-case letters,
// digits and dashes, not inside a longer word.
std::set<std::string> OptionsNamedIn(const std::string& help) {
  std::set<std::string> options;
  for (auto at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
    if (at > 0 && IsNameCharacter(help[at - 1])) continue;
    auto end = at + 2;
    while (end < help.size() && ((help[end] >= 'a' && help[end] <= 'z') ||
                                 (help[end] >= '0' && help[end] <= '9') || help[end] == '-')) {
      ++end;
    }
    std::string name = help.substr(at, end - at);
    while (name.ends_with('-')) name.pop_back();
    if (name.size() > 2) options.insert(name);
    at = end - 2;
  }
  return options;
}

// Whether the text names the option whole (not as the start of a longer one).
bool Names(const std::string& text, const std::string& option) {
  for (auto at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
    const auto after = at + option.size();
    if (after == text.size() || !IsNameCharacter(text[after])) return true;
  }
  return false;
}

struct ManPageCase {
  const char* program;
  bool window;
  std::vector<const char*> commands;  // each one's own --help is read too, where it has one
};

class ManPage : public Installed, public ::testing::WithParamInterface<ManPageCase> {};

// The man page names every option that the program's help names: the two cannot drift
// apart when an option is added.
TEST_P(ManPage, NamesEveryOptionThatTheProgramsHelpNames) {
  const ManPageCase& page = GetParam();
  if (page.window && !BuiltTheWindow()) GTEST_SKIP() << "built without the window";
  const std::string program = Quoted(Usr() / "bin" / page.program);
  // In a scratch folder with no display: a help that ran the program would show.
  const std::string prefix =
      "cd " + Quoted(Scratch()) + " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  const RunResult help = Shell(prefix + "timeout 10 " + program + " --help");
  std::set<std::string> options = OptionsNamedIn(help.output);
  ASSERT_FALSE(options.empty()) << page.program << " --help named no option:\n" << help.output;
  for (const char* command : page.commands) {
    const RunResult commandHelp =
        Shell(prefix + "timeout 10 " + program + " " + command + " --help");
    if (commandHelp.status != 0) continue;
    options.merge(OptionsNamedIn(commandHelp.output));
  }
  const std::string manPage = ManPageText(page.program);
  ASSERT_FALSE(manPage.empty());
  for (const auto& option : options) {
    EXPECT_TRUE(Names(manPage, option)) << page.program << "(1) does not name " << option;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ManPage,
                         ::testing::Values(ManPageCase{"tavrin", true, {}},
                                           ManPageCase{"tavrin-cli",
                                                       false,
                                                       {"upload", "download", "comtest", "term",
                                                        "station", "journal", "script", "ports"}},
                                           ManPageCase{"tavrin-target-sim", false, {}},
                                           ManPageCase{"tavrin-sample-files", false, {}}),
                         [](const auto& programCase) {
                           std::string name = programCase.param.program;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

struct CompletionCase {
  const char* line;     // the words typed after "tavrin-cli", the last one being completed
  const char* offered;  // one word the completion must offer
};

class Completion : public Installed, public ::testing::WithParamInterface<CompletionCase> {};

// The installed completion, loaded as bash loads it, against a tavrin-cli whose port list
// is known.
TEST_P(Completion, OffersTheCommandsOptionsAndPortsOfTheMachine) {
  const char* kBashCompletion = "/usr/share/bash-completion/bash_completion";
  ASSERT_TRUE(fs::exists(kBashCompletion)) << "bash-completion is not installed";
  const fs::path bin = Scratch() / "fake-bin";
  fs::create_directories(bin);
  WriteFile(bin / "tavrin-cli",
            "#!/bin/sh\n"
            "[ \"$1 $2\" = 'ports --json' ] || exit 1\n"
            "echo '{\"ports\":[{\"name\":\"ttyS0\",\"device\":\"/dev/ttyS0\",\"by_id\":null,"
            "\"serial_number\":null},{\"name\":\"ttyUSB0\",\"device\":\"/dev/ttyUSB0\","
            "\"by_id\":\"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\",\"vendor_id\":\"0403\","
            "\"serial_number\":\"A50285BI\",\"latency_timer_ms\":16}]}'\n");
  fs::permissions(bin / "tavrin-cli", fs::perms::owner_all);
  const fs::path script = Scratch() / "complete.sh";
  WriteFile(script, std::string("source ") + kBashCompletion + "\n" + "source " +
                        Quoted(Usr() / "share/bash-completion/completions/tavrin-cli") + "\n" +
                        "PATH=" + Quoted(bin) +
                        ":$PATH\n"
                        "COMP_LINE=\"tavrin-cli $1\"\n"
                        "COMP_POINT=${#COMP_LINE}\n"
                        "read -r -a COMP_WORDS <<< \"$COMP_LINE\"\n"
                        "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                        "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                        "_tavrin_cli tavrin-cli \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\"\n"
                        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
  const CompletionCase& typed = GetParam();
  const RunResult offered =
      Shell("cd " + Quoted(Scratch()) + " && bash " + Quoted(script) + " '" + typed.line + "'");
  ASSERT_EQ(offered.status, 0) << offered.output;
  EXPECT_NE(("\n" + offered.output).find(std::string("\n") + typed.offered + "\n"),
            std::string::npos)
      << "'" << typed.line << "' offers:\n"
      << offered.output;
}

INSTANTIATE_TEST_SUITE_P(
    Words, Completion,
    ::testing::Values(
        CompletionCase{"", "upload"}, CompletionCase{"", "ports"}, CompletionCase{"st", "station"},
        CompletionCase{"upload --c", "--confirm"}, CompletionCase{"download --", "--retries"},
        CompletionCase{"term --", "--timestamps"}, CompletionCase{"upload --port ", "ttyUSB0"},
        CompletionCase{"upload --port ", "serial:A50285BI"},
        CompletionCase{"upload --port usb", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        CompletionCase{"upload --port=tty", "ttyS0"}, CompletionCase{"comtest --parity ", "mark"},
        CompletionCase{"script ", "show"}));

}  // namespace
}  // namespace tavrin::test
