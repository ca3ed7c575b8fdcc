// tavrin: the program's entry and exit. The program-wide objects (the prompts, the error
// sink the engine reports through, the settings store) are made before the main window and
// released after it; destroying the window runs the shut-down sequence. The window opens
// maximised. Exit code 0 when start-up fails, 1 when the program ran and was closed.
// --help and --version answer on stdout without a display and exit 0; every other argument
// is Qt's (-platform, -display, ...) or ignored, as the window takes no options.
#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/qt_prompts.h"
#include "app/queued_views.h"
#include "app/settings_store.h"
#include "core/product_identity.h"

namespace {

constexpr int kStartFailed = 0;
constexpr int kRanAndClosed = 1;
constexpr const char* kCouldNotStart = "Tavrin couldn't start!";

// The desktop entry's name: the desktop ties the running window to the entry and its icon.
constexpr const char* kDesktopFileName = "io.github.tavrin.Tavrin";

constexpr const char* kHelpText =
    "usage: tavrin [--help | --version]\n"
    "The Tavrin window: uploads firmware images (*.URT) to a set-top box over a serial\n"
    "port, downloads its memory (*.DSF scripts to *.DBF files), tests the port and works as\n"
    "a serial terminal with a capture log.\n"
    "  --help     this text\n"
    "  --version  the version, the project id and the build date\n"
    "The window takes no other options; Qt's own (-platform NAME, -display DISPLAY, ...)\n"
    "apply. TAVRIN_PORT sets the port it starts with (default COM1, that is /dev/ttyS0).\n"
    "Its working files go to the folder ~zvqTemp under the current directory.\n";

// --help or --version as the only argument: answered here, before Qt needs a display.
bool AnsweredOnTheCommandLine(int argc, char** argv) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kHelpText, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    const auto& id = tavrin::core::kProductIdentity;
    std::printf("tavrin %s %s %s\n", tavrin::core::kVersionNumber, id.projectId,
                tavrin::core::BuildDate().c_str());
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnsweredOnTheCommandLine(argc, argv)) return EXIT_SUCCESS;
  QApplication::setApplicationName(QStringLiteral("tavrin"));
  QApplication::setApplicationVersion(QLatin1String(tavrin::core::kVersionNumber));
  QApplication::setDesktopFileName(QLatin1String(kDesktopFileName));
  QApplication application(argc, argv);
  using namespace tavrin::app;
  QApplication::setWindowIcon(ProgramIcon());
  namespace serial = tavrin::serial;

  QtPrompts prompts;
  // A fatal link error ends the process where it stands, after its report was shown: the
  // shut-down sequence does not run, so the capture file stays on disk.
  QueuedErrorSink errors(prompts, [] { std::_Exit(0); });
  SettingsStore settingsStore;

  std::unique_ptr<MainWindow> window;
  try {
    std::error_code error;
    std::filesystem::path workDir = std::filesystem::current_path(error);
    if (error) throw std::filesystem::filesystem_error("current directory", error);
    MainWindowDeps deps{prompts,
                        settingsStore,
                        errors,
                        workDir,
                        {},  // the system's ports, each failed open diagnosed
                        serial::LinkTimings{},
                        {},
                        {},
                        {}};
    window = std::make_unique<MainWindow>(std::move(deps));
  } catch (const std::exception&) {
    prompts.Message(nullptr, QString::fromLatin1(kErrorBoxCaption),
                    QString::fromLatin1(kCouldNotStart), PromptIcon::kNone);
    return kStartFailed;
  }
  errors.SetOwner(window.get());
  // Maximised whatever the window manager does; without one the screen's size stands in.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window->setGeometry(screen->availableGeometry());
  }
  window->showMaximized();
  QApplication::exec();
  window.reset();
  return kRanAndClosed;
}
