// The options file's text parser on arbitrary text. Whatever it reads must
// print and read back to the same text without defects (the store rewrites
// a damaged file from what it could read, so that text must be sound).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/os_registry_file.h"
#include "util/atomic_file.h"

using namespace tarvo;

namespace {

const std::string& StorePath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-fuzz-registry-" + std::to_string(::getpid()) + ".reg";
  }();
  return path;
}

// The file store opened on the text: a damaged file is kept aside byte for
// byte and replaced by a sound one, and every readable value reads back.
void CheckFileStore(const std::string& text, bool sound, const OptionTree& tree) {
  const std::string& path = StorePath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  } else {
    return;
  }
  std::vector<std::string> messages;
  std::string aside;
  {
    FileOptionStore store(path, [&](const std::string& m) { messages.push_back(m); });
    aside = store.DamagedCopy();
    if (sound != messages.empty() || sound != aside.empty()) fuzz::Fail("damage reported wrongly");
    for (const OptionTree::Key& k : tree.Keys())
      for (const OptionTree::Value& v : k.values) {
        if (v.value.type == OptionValue::Type::Integer) {
          int32_t got = 0;
          if (store.ReadInteger(k.path, v.name, got) != ValueStatus::Present || got != v.value.integer)
            fuzz::Fail("integer \"" + v.name + "\" does not read back from the store");
        } else if (v.value.type == OptionValue::Type::String) {
          std::string got;
          if (store.ReadString(k.path, v.name, got) != ValueStatus::Present || got != v.value.text)
            fuzz::Fail("string \"" + v.name + "\" does not read back from the store");
        }
      }
  }
  if (!sound) {
    std::vector<uint8_t> kept, repaired;
    if (!ReadWholeFile(aside, kept, nullptr) || std::string(kept.begin(), kept.end()) != text)
      fuzz::Fail("damaged file not kept aside unchanged");
    if (!ReadWholeFile(path, repaired, nullptr)) fuzz::Fail("no repaired file");
    OptionTree t;
    if (!ParseRegistryText(std::string(repaired.begin(), repaired.end()), t, nullptr))
      fuzz::Fail("repaired file is damaged");
    std::remove(aside.c_str());
  }
  std::remove(path.c_str());
  std::remove((path + ".lock").c_str());
}

}  // namespace

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

  // One input in four also goes through the file store (slower: files).
  if (size % 4 == 0 && size <= 4096) CheckFileStore(text, ok, tree);
  return 0;
}
