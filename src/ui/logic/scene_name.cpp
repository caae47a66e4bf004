#include "ui/logic/scene_name.h"

#include "scenes/cp1252.h"
#include "types/specs.h"

namespace tarvo::ui {

namespace {

// Byte length of the UTF-8 sequence starting with `lead` (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::optional<char32_t> FilterSceneNameKey(std::u32string_view text, size_t caret, char32_t ch) {
  if (caret == 0 && ch < U'A') return std::nullopt;
  const bool wordStart = caret == 0 || (caret <= text.size() && text[caret - 1] == U' ');
  if (wordStart && ch >= U'a' && ch <= U'z') return static_cast<char32_t>(ch - U'a' + U'A');
  return ch;
}

std::string SceneNameToSave(const std::string& typed) {
  size_t begin = 0, end = typed.size();
  while (begin < end && static_cast<unsigned char>(typed[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(typed[end - 1]) <= 32) --end;
  // Cut after kSceneNameMax characters, never inside one.
  size_t pos = begin, count = 0;
  while (pos < end && count < kSceneNameMax) {
    pos += SequenceLength(static_cast<unsigned char>(typed[pos]));
    ++count;
  }
  if (pos > end) pos = end;
  return typed.substr(begin, pos - begin);
}

std::string RefuseSceneName(const std::string& typed) {
  if (typed == kNoSceneName) return kCannotSaveNone;
  const std::string name = SceneNameToSave(typed);
  // A name that trims to "<none>" would stand for no scene at all.
  if (name == kNoSceneName) return kCannotSaveNone;
  if (name.empty()) return "Please type a name for the scene.";
  std::string bytes, why;
  if (!Utf8ToCp1252(name, bytes, &why)) return "The scene name cannot be stored: " + why + ".";
  return {};
}

}  // namespace tarvo::ui
