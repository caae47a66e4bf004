// The options file's text parser on arbitrary text. Whatever it reads must
// print and read back to the same text without defects (the store rewrites
// a damaged file from what it could read, so that text must be sound).
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/os_registry_file.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  OptionTree tree;
  std::vector<std::string> problems;
  const bool ok = ParseRegistryText(text, tree, &problems);
  if (ok != problems.empty()) fuzz::Fail("result and problem list disagree");

  const std::string printed = FormatRegistryText(tree);
  OptionTree again;
  std::vector<std::string> again_problems;
  if (!ParseRegistryText(printed, again, &again_problems))
    fuzz::Fail("printed text does not read back: " + again_problems.front());
  if (FormatRegistryText(again) != printed) fuzz::Fail("printed text changes on a second round");

  // Every readable value is found again under its key and name.
  for (const OptionTree::Key& k : tree.Keys())
    for (const OptionTree::Value& v : k.values) {
      if (v.value.type == OptionValue::Type::Unreadable) continue;
      const OptionValue* found = again.Find(k.path, v.name);
      if (!found || found->type != v.value.type || found->integer != v.value.integer ||
          (v.value.type == OptionValue::Type::String && found->text != v.value.text))
        fuzz::Fail("value \"" + v.name + "\" lost in the round trip");
    }
  return 0;
}
