// tavrin: the program's entry and exit. The program-wide objects (the prompts, the error
// sink the engine reports through, the settings store) are made before the main window and
// released after it; destroying the window runs the shut-down sequence. The window opens
// maximised. Exit code 0 when start-up fails, 1 when the program ran and was closed.
#include <QApplication>
#include <QScreen>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "app/qt_prompts.h"
#include "app/queued_views.h"
#include "app/settings_store.h"

namespace {

constexpr int kStartFailed = 0;
constexpr int kRanAndClosed = 1;
constexpr const char* kCouldNotStart = "Tavrin couldn't start!";

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  using namespace tavrin::app;
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
