#include "app/find_text.h"

#include <QChar>
#include <algorithm>

namespace tavrin::app {
namespace {

constexpr char16_t kLastByteChar = 0xFF;

bool SameShown(char textByte, char findByte, bool matchCase) {
  const QChar shown(DisplayChar(static_cast<std::uint8_t>(textByte)));
  const QChar wanted(static_cast<char16_t>(static_cast<std::uint8_t>(findByte)));
  return matchCase ? shown == wanted : shown.toCaseFolded() == wanted.toCaseFolded();
}

}  // namespace

QString CannotFindText(const QString& findText) {
  return QLatin1String(kCannotFindFormat).arg(findText);
}

std::optional<std::string> FindTextBytes(const QString& findText) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(findText.size()));
  for (const QChar c : findText) {
    if (c.unicode() > kLastByteChar) return std::nullopt;
    bytes.push_back(static_cast<char>(c.unicode()));
  }
  return bytes;
}

std::optional<TextRange> FindNextMatch(std::string_view text, std::string_view findBytes,
                                       const FindRequest& request, bool& findStarted) {
  std::size_t start = request.selection.start;
  if (findStarted) ++start;
  findStarted = true;
  if (start == request.selection.end) start = 0;
  if (findBytes.empty() || start > text.size()) return std::nullopt;
  const auto from = text.begin() + static_cast<std::ptrdiff_t>(start);
  const auto match =
      std::search(from, text.end(), findBytes.begin(), findBytes.end(),
                  [&](char a, char b) { return SameShown(a, b, request.matchCase); });
  if (match == text.end()) return std::nullopt;
  const auto matchStart = static_cast<std::size_t>(match - text.begin());
  return TextRange{matchStart, matchStart + findBytes.size()};
}

}  // namespace tavrin::app
