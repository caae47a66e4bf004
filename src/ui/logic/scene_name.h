// The save-scene dialog's rules, without widgets: the key filter of the name
// box, the names OK refuses, and the name a scene is saved under.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvo::ui {

inline constexpr char kSaveSceneCaption[] = "Save Scene";
inline constexpr int kSaveSceneHelpContext = 12100;
inline constexpr char kCannotSaveNone[] = "Cannot save scene \"<none>\"";

// The name box's filter for one typed character `ch` (a Unicode code point)
// at caret position `caret` (0: before the first character) of `text` (the
// box's characters as code points). Returns the character to insert, or
// nothing when it is discarded: the first character must be "A" (code 65) or
// above; the first character and every character typed after a blank are
// turned to upper case (a to z only); anything else is kept as typed.
std::optional<char32_t> FilterSceneNameKey(std::u32string_view text, size_t caret, char32_t ch);

// The name a scene is saved under: `typed` (UTF-8) without leading and
// trailing characters of code 32 or below, cut to the record's 31 characters.
std::string SceneNameToSave(const std::string& typed);

// Why OK may not close the dialog with `typed` (UTF-8), or "" when it may.
// "<none>" gives the fixed message; a name that would be saved as "<none>"
// or as nothing, or that holds a character the scene file cannot store, is
// refused too.
std::string RefuseSceneName(const std::string& typed);

}  // namespace tarvo::ui
