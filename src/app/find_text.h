// The search rule of Find in the output window, as plain functions over the view's bytes
// (see OutputText for how bytes are shown; the search compares what is shown).
//
// Each "find next" request takes the current selection (start, end); once a search has
// run in this opening of the dialog, start moves one past it, so the next match may
// overlap the previous one; a start equal to end (an empty selection, or a one-character
// match just found) starts again at 0. The search runs forward from start to the end of
// the text and never wraps.
//
// The text is read in pieces (the capture file may be far larger than memory should
// hold), and a long search reports its progress and can be stopped between pieces.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/output_text.h"

namespace tavrin::app {

// Fixed texts of the Find messages.
inline constexpr const char* kFindCaption = "Tavrin";
inline constexpr const char* kCannotFindFormat = "Cannot find \"%1\" ";  // trailing blank

// "Cannot find \"text\" ".
QString CannotFindText(const QString& findText);

// The find text as the bytes it can match, or nullopt when it holds a character that no
// byte is shown as (it then matches nothing).
std::optional<std::string> FindTextBytes(const QString& findText);

struct FindRequest {
  TextRange selection;  // the view's selection when the request came
  bool matchCase = true;
};

// Where the searched text comes from: its length, and a read of the bytes at an offset
// (returns how many it gave; fewer only at the end).
struct FindSource {
  std::size_t size = 0;
  std::function<std::size_t(std::span<std::uint8_t>, std::size_t)> read;
};
FindSource SourceOf(std::string_view text);
FindSource SourceOf(const OutputText& text);

// Called between pieces with the bytes searched so far and the bytes to search; false
// stops the search.
using FindProgress = std::function<bool(std::size_t done, std::size_t total)>;

struct FindOutcome {
  std::optional<TextRange> match;
  bool stopped = false;  // the progress callback stopped it: nothing was decided
};

// One "find next": the match, or none when there is none from the start point on.
// `findStarted` is the dialog's flag: read for the start point and set by every search.
FindOutcome FindNextMatch(const FindSource& text, std::string_view findBytes,
                          const FindRequest& request, bool& findStarted,
                          const FindProgress& progress = {});

// The same over text held in memory.
std::optional<TextRange> FindNextMatch(std::string_view text, std::string_view findBytes,
                                       const FindRequest& request, bool& findStarted);

}  // namespace tavrin::app
