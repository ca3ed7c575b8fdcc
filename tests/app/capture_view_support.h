// The output view fed as the window feeds it: a capture log in a private directory, with
// an OutputViewSink over the view. Add() appends a block and lets the UI thread show it.
#pragma once

#include <QCoreApplication>
#include <string>
#include <string_view>

#include "app/output_view.h"
#include "support/recorders.h"
#include "support/temp_files.h"
#include "terminal/capture_log.h"

namespace tavrin::app::testing {

struct CapturedView {
  explicit CapturedView(QWidget* parent = nullptr) : view(parent) {}

  void Add(std::string_view bytes, ColourMark colour = ColourMark::kNone) {
    log.WriteToCapture(test::AsBytes(bytes), colour);
    QCoreApplication::processEvents();
  }
  void Clear() {
    log.Clear();
    QCoreApplication::processEvents();
  }
  std::string Shown() const { return view.Content().ReadAll(); }

  test::TempDir dir;
  OutputView view;
  OutputViewSink sink{view};
  test::RecordingErrorSink errors;
  serial::ErrorReporter reporter{errors};
  terminal::CaptureLog log{dir.Path(), sink, reporter};
};

}  // namespace tavrin::app::testing
