#include "options/option_store.h"

namespace tarvo {

const char kOptionRoot[] = "HKEY_LOCAL_MACHINE";

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The form names are looked up by: two names are equal for the store
// exactly when their lower-case forms are.
std::string LowerAscii(std::string s) {
  for (char& c : s) c = LowerAscii(c);
  return s;
}

// "\Software\X" and "Software\X\" name the same key.
std::string NormalKeyPath(const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty() || p.front() != '\\') p.insert(p.begin(), '\\');
  return p;
}

}  // namespace

bool OptionNamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

const OptionTree::Key* OptionTree::FindKey(const std::string& path) const {
  const auto it = keyIndex_.find(LowerAscii(NormalKeyPath(path)));
  return it == keyIndex_.end() ? nullptr : &keys_[it->second];
}

OptionTree::Key& OptionTree::EnsureKey(const std::string& path) {
  std::string p = NormalKeyPath(path);
  const auto [it, added] = keyIndex_.try_emplace(LowerAscii(p), keys_.size());
  if (added) keys_.push_back(Key{std::move(p), {}, {}});
  return keys_[it->second];
}

const OptionValue* OptionTree::Find(const std::string& key, const std::string& name) const {
  const Key* k = FindKey(key);
  if (!k) return nullptr;
  const auto it = k->index.find(LowerAscii(name));
  return it == k->index.end() ? nullptr : &k->values[it->second].value;
}

void OptionTree::Set(const std::string& key, const std::string& name, const OptionValue& value) {
  Key& k = EnsureKey(key);
  const auto [it, added] = k.index.try_emplace(LowerAscii(name), k.values.size());
  if (added) k.values.push_back(Value{name, value});
  else k.values[it->second].value = value;
}

ValueStatus ReadIntegerFrom(const OptionTree& t, const std::string& key, const std::string& name, int32_t& out) {
  const OptionValue* v = t.Find(key, name);
  if (!v) return ValueStatus::Missing;
  if (v->type != OptionValue::Type::Integer) return ValueStatus::WrongType;
  out = v->integer;
  return ValueStatus::Present;
}

ValueStatus ReadStringFrom(const OptionTree& t, const std::string& key, const std::string& name, std::string& out) {
  const OptionValue* v = t.Find(key, name);
  if (!v) return ValueStatus::Missing;
  if (v->type != OptionValue::Type::String) return ValueStatus::WrongType;
  out = v->text;
  return ValueStatus::Present;
}

ValueStatus MemoryOptionStore::ReadInteger(const std::string& key, const std::string& name, int32_t& out) {
  return ReadIntegerFrom(tree_, key, name, out);
}

ValueStatus MemoryOptionStore::ReadString(const std::string& key, const std::string& name, std::string& out) {
  return ReadStringFrom(tree_, key, name, out);
}

void MemoryOptionStore::CreateKey(const std::string& key) { tree_.EnsureKey(key); }

bool MemoryOptionStore::WriteInteger(const std::string& key, const std::string& name, int32_t value) {
  OptionValue v;
  v.type = OptionValue::Type::Integer;
  v.integer = value;
  tree_.Set(key, name, v);
  ++writes_;
  return true;
}

bool MemoryOptionStore::WriteString(const std::string& key, const std::string& name, const std::string& value) {
  OptionValue v;
  v.type = OptionValue::Type::String;
  v.text = value;
  tree_.Set(key, name, v);
  ++writes_;
  return true;
}

void MemoryOptionStore::PutUnreadable(const std::string& key, const std::string& name, const std::string& raw) {
  OptionValue v;
  v.type = OptionValue::Type::Unreadable;
  v.text = raw;
  tree_.Set(key, name, v);
}

}  // namespace tarvo
