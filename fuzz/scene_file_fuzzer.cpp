// The scene file loader on arbitrary bytes, with both name orderings. The
// loaded list must be well formed, every name must survive the Windows-1252
// conversion both ways, nothing read may be lost, and saving, loading the
// saved bytes and saving again must reproduce them exactly.
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "fuzz_input.h"
#include "options/options.h"
#include "platform/icu_collation.h"
#include "scenes/cp1252.h"
#include "scenes/scene_list.h"

using namespace tarvo;

namespace {

std::string Save(const TSceneList& list) {
  std::ostringstream out;
  list.SaveToStream(out);
  return out.str();
}

void Check(const Collator& collator, const std::string& bytes) {
  TSceneList list(collator);
  std::istringstream in(bytes);
  list.LoadFromStream(in);

  if (list.Count() < 1 || list.Name(0) != kNoSceneName || list.Scene(0) != nullptr)
    fuzz::Fail("entry 0 is not the placeholder");
  for (int i = 1; i < list.Count(); ++i) {
    if (!list.Scene(i)) fuzz::Fail("scene entry without a scene");
    if (collator.Compare(list.Name(i - 1), list.Name(i)) >= 0) fuzz::Fail("entries out of order at " + std::to_string(i));
    if (list.IndexOf(list.Name(i)) != i) fuzz::Fail("IndexOf misses entry " + std::to_string(i));
    const std::string stored = SceneNameOf(list.Scene(i)->Specs);
    std::string back;
    if (!Utf8ToCp1252(Cp1252ToUtf8(stored), back, nullptr) || back != stored)
      fuzz::Fail("scene name does not survive the conversion");
    if (collator.Compare(list.Name(i), Cp1252ToUtf8(stored)) != 0) fuzz::Fail("entry name and record name differ");
  }
  const size_t tail = bytes.size() % kSpecsSize;
  if (list.TrailingByteCount() != tail) fuzz::Fail("trailing bytes not kept");
  if (static_cast<size_t>(list.SetAsideCount()) + (tail > 0 ? 1 : 0) != list.LoadProblems().size())
    fuzz::Fail("records set aside and problems reported differ");
  if (static_cast<size_t>(list.Count() - 1 + list.SetAsideCount()) != bytes.size() / kSpecsSize)
    fuzz::Fail("records lost at loading");

  // The bytes past the last whole record (which the loader keeps) are also a
  // name typed by the user, in UTF-8: a name the list takes must convert to
  // Windows-1252 and back unchanged, and land where IndexOf finds it.
  const std::string typed = bytes.substr(bytes.size() - tail);
  std::string stored, why;
  const bool usable = list.CheckName(typed, &stored, &why);
  std::string cp;
  const bool convertible = Utf8ToCp1252(typed, cp, nullptr);
  if (convertible && Cp1252ToUtf8(cp) != typed) fuzz::Fail("typed name does not survive the conversion");
  if (usable && (!convertible || stored != cp || stored.size() > kSceneNameMax)) fuzz::Fail("CheckName passes a bad name");
  const int countBefore = list.Count();
  auto scene = std::make_unique<TScene>();
  scene->Specs = BuiltInDefaultSpecs();
  if (usable) SetSceneName(scene->Specs, stored);
  const std::string added(reinterpret_cast<const char*>(&scene->Specs), kSpecsSize);
  const int at = list.Add(typed, std::move(scene), &why);
  if (usable != (at >= 1)) fuzz::Fail("Add and CheckName disagree");
  if (!usable && list.Count() != countBefore) fuzz::Fail("refused name changed the list");
  if (usable && list.IndexOf(typed) != at) fuzz::Fail("added name not found where it went");
  for (int i = 1; i < list.Count(); ++i)
    if (collator.Compare(list.Name(i - 1), list.Name(i)) >= 0) fuzz::Fail("entries out of order after Add");

  const std::string saved = Save(list);
  if (saved.size() != static_cast<size_t>(list.Count() - 1 + list.SetAsideCount()) * kSpecsSize + tail)
    fuzz::Fail("saved size does not match the list");
  if (saved.substr(saved.size() - tail) != bytes.substr(bytes.size() - tail)) fuzz::Fail("trailing bytes changed");
  // Nothing is made up: every saved record is one of the records read (or
  // the one added).
  std::set<std::string> read;
  for (size_t k = 0; k + kSpecsSize <= bytes.size(); k += kSpecsSize) read.insert(bytes.substr(k, kSpecsSize));
  if (usable) read.insert(added);
  for (size_t k = 0; k + kSpecsSize <= saved.size(); k += kSpecsSize)
    if (!read.count(saved.substr(k, kSpecsSize))) fuzz::Fail("saved a record that was not read");

  TSceneList again(collator);
  std::istringstream in2(saved);
  again.LoadFromStream(in2);
  if (again.Count() != list.Count() || again.SetAsideCount() != list.SetAsideCount() ||
      again.TrailingByteCount() != tail)
    fuzz::Fail("reloading changes the list");
  for (int i = 1; i < list.Count(); ++i)
    if (std::memcmp(&again.Scene(i)->Specs, &list.Scene(i)->Specs, kSpecsSize) != 0)
      fuzz::Fail("reloading lists another record under entry " + std::to_string(i));
  if (Save(again) != saved) fuzz::Fail("save, load, save does not reproduce the bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // At most 64 records per input keep runs fast.
  if (size > 64 * static_cast<size_t>(kSpecsSize) + 255) return 0;
  static const SimpleCollator simple;
  static const std::unique_ptr<Collator> icu = MakeIcuCollator("en_US");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(simple, bytes);
  if (icu) Check(*icu, bytes);
  return 0;
}
