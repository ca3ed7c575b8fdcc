#include "app/find_text.h"

#include <QChar>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace tavrin::app {
namespace {

constexpr char16_t kLastByteChar = 0xFF;
// The text is searched in pieces of this size (the last bytes of one piece are read again
// at the start of the next, so a match across two pieces is found).
constexpr std::size_t kSearchChunk = 4 * 1024 * 1024;
constexpr std::size_t kBytes = 256;

// What a byte is compared as: a key that two bytes share exactly when they are shown as
// the same character (with match case off: the same character once case-folded). The key
// is the lowest byte of its kind, so keys are bytes too.
struct KeyTable {
  std::array<std::uint8_t, kBytes> ofByte{};
  std::array<char16_t, kBytes> shownOfKey{};  // the (folded) character of each key
};

char16_t Compared(char16_t c, bool matchCase) {
  return matchCase ? c : QChar(c).toCaseFolded().unicode();
}

KeyTable MakeKeys(bool matchCase) {
  KeyTable table;
  std::array<char16_t, kBytes> shown{};
  for (std::size_t b = 0; b < kBytes; ++b) {
    shown[b] = Compared(DisplayChar(static_cast<std::uint8_t>(b)), matchCase);
    std::size_t key = 0;
    while (shown[key] != shown[b]) ++key;  // the lowest byte shown the same (key <= b)
    table.ofByte[b] = static_cast<std::uint8_t>(key);
    table.shownOfKey[key] = shown[b];
  }
  return table;
}

// The find text as keys; nullopt when a character of it is shown by no byte.
std::optional<std::string> FindKeys(std::string_view findBytes, const KeyTable& table,
                                    bool matchCase) {
  std::string keys;
  for (const char c : findBytes) {
    const char16_t wanted = Compared(static_cast<std::uint8_t>(c), matchCase);
    std::size_t key = 0;
    while (key < kBytes && !(table.ofByte[key] == key && table.shownOfKey[key] == wanted)) ++key;
    if (key == kBytes) return std::nullopt;
    keys.push_back(static_cast<char>(key));
  }
  return keys;
}

// True when the keys of the bytes are the bytes themselves wherever it matters: each key of
// the find text is the only byte shown as it, so the raw bytes can be searched.
bool RawSearchWill(std::string_view keys, const KeyTable& table) {
  for (const char c : keys) {
    const auto key = static_cast<std::uint8_t>(c);
    for (std::size_t b = 0; b < kBytes; ++b) {
      if (b != key && table.ofByte[b] == key) return false;
    }
  }
  return true;
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

FindSource SourceOf(std::string_view text) {
  return {text.size(), [text](std::span<std::uint8_t> into, std::size_t offset) {
            const std::size_t n =
                offset < text.size() ? std::min(into.size(), text.size() - offset) : 0;
            std::memcpy(into.data(), text.data() + offset, n);
            return n;
          }};
}

FindSource SourceOf(const OutputText& text) {
  return {text.Size(), [&text](std::span<std::uint8_t> into, std::size_t offset) {
            return text.ReadAt(into, offset);
          }};
}

FindOutcome FindNextMatch(const FindSource& text, std::string_view findBytes,
                          const FindRequest& request, bool& findStarted,
                          const FindProgress& progress) {
  std::size_t start = request.selection.start;
  if (findStarted) ++start;
  findStarted = true;
  if (start == request.selection.end) start = 0;
  if (findBytes.empty() || start > text.size) return {};
  const KeyTable table = MakeKeys(request.matchCase);
  const std::optional<std::string> keys = FindKeys(findBytes, table, request.matchCase);
  if (!keys) return {};
  const bool raw = RawSearchWill(*keys, table);
  const std::size_t overlap = keys->size() - 1;
  std::vector<std::uint8_t> chunk(
      std::min(kSearchChunk, std::max(text.size - start, keys->size())));
  if (chunk.size() <= overlap) return {};
  for (std::size_t offset = start; offset + keys->size() <= text.size;) {
    if (progress && !progress(offset - start, text.size - start)) return {std::nullopt, true};
    const std::size_t n = text.read(chunk, offset);
    if (n < keys->size()) break;
    if (!raw) {
      for (std::size_t i = 0; i < n; ++i) chunk[i] = table.ofByte[chunk[i]];
    }
    const void* found = ::memmem(chunk.data(), n, keys->data(), keys->size());
    if (found != nullptr) {
      const auto at =
          offset + static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - chunk.data());
      return {TextRange{at, at + keys->size()}, false};
    }
    if (offset + n >= text.size) break;
    offset += n - overlap;
  }
  return {};
}

std::optional<TextRange> FindNextMatch(std::string_view text, std::string_view findBytes,
                                       const FindRequest& request, bool& findStarted) {
  return FindNextMatch(SourceOf(text), findBytes, request, findStarted).match;
}

}  // namespace tavrin::app
