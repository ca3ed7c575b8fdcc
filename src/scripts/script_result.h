// Results of the script files' operations (the script store, DSF files, the command
// image). Every failure here is shown to the operator the same way: the box
// "Error No: -3 \n File Access Error!!!" captioned "Tavrin 1.1". The FileError behind it
// keeps the cause for logs and tests.
#pragma once

#include <string_view>
#include <utility>
#include <variant>

namespace tavrin::scripts {

// Fixed texts of the file-access failure box.
constexpr int kFileAccessErrorCode = -3;  // the number the box shows
constexpr std::string_view kFileAccessErrorText = "Error No: -3 \n File Access Error!!!";
constexpr std::string_view kFileAccessErrorCaption = "Tavrin 1.1";

enum class FileFault {
  kSystemCall,       // open, read, write, seek, rename or unlink failed: see `error`
  kShortFile,        // the file ended before the bytes the operation needed
  kNotRegularFile,   // a directory, device or pipe where a file was expected
  kNoSuchRecord,     // caller bug: record number outside 1 to the record count
  kNotCommandImage,  // the command image does not begin with "MZ"
};

struct FileError {
  FileFault fault = FileFault::kSystemCall;
  std::string_view step;  // what was being done, e.g. "open DSF file" (a literal)
  int error = 0;          // errno of the failed call; 0 for the faults that are not calls
};

// Either a value or the FileError that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit, like std::expected
  Result(FileError error) : state_(error) {}     // NOLINT

  explicit operator bool() const { return std::holds_alternative<T>(state_); }
  T& Value() { return std::get<T>(state_); }
  const T& Value() const { return std::get<T>(state_); }
  T& operator*() { return Value(); }
  const T& operator*() const { return Value(); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  const FileError& Error() const { return std::get<FileError>(state_); }

 private:
  std::variant<T, FileError> state_;
};

// A result without a value.
using Status = Result<std::monostate>;
inline Status Ok() {
  return Status{std::monostate{}};
}

}  // namespace tavrin::scripts
