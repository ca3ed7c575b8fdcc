#include "serial/error_reporter.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace tavrin::serial {

void ErrorSink::Debug(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string FormatErrorReport(int error, std::string_view step) {
  // The system's own description, in English whatever the locale; none (an empty
  // description) for a code the system does not know, where strerror would make up
  // "Unknown error N".
  const char* description = ::strerrordesc_np(error);
  std::string text = "Error " + std::to_string(error) + ": ";
  text.append(step);
  text += ".\n\r";
  if (description != nullptr) text += description;
  text += "\r\n";
  return text;
}

void ErrorReporter::ReportError(std::string_view step, int error) {
  std::string text = FormatErrorReport(error, step);
  sink_.Debug(text);
  sink_.ShowError(std::move(text));
}

void ErrorReporter::ReportErrorAndExit(std::string_view step, int error) {
  ReportError(step, error);
  sink_.EndProcess();
}

void ErrorReporter::ReportErrorCloseAndExit(std::string_view step, int error,
                                            const std::function<void()>& closePort) {
  ReportError(step, error);
  if (closePort) closePort();
  sink_.EndProcess();
}

}  // namespace tavrin::serial
