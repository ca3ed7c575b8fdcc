// The search rule of Find in the output window, as plain functions over the view's bytes
// (see OutputText for how bytes are shown; the search compares what is shown).
//
// Each "find next" request takes the current selection (start, end); once a search has
// run in this opening of the dialog, start moves one past it, so the next match may
// overlap the previous one; a start equal to end (an empty selection, or a one-character
// match just found) starts again at 0. The search runs forward from start to the end of
// the text and never wraps.
#pragma once

#include <QString>
#include <optional>
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

// One "find next": the match, or nullopt when there is none from the start point on.
// `findStarted` is the dialog's flag: read for the start point and set by every search.
std::optional<TextRange> FindNextMatch(std::string_view text, std::string_view findBytes,
                                       const FindRequest& request, bool& findStarted);

}  // namespace tavrin::app
