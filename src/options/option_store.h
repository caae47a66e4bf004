// The installation-wide options store: a hierarchy of keys under one root,
// each key holding named values that are either 32-bit integers or strings.
// The filter reads its options from it at start-up and writes changed options
// back at once. The file-backed implementation lives in the platform layer;
// MemoryOptionStore below serves tests and hosts that keep nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvo {

// The root every key lives under.
extern const char kOptionRoot[];  // "HKEY_LOCAL_MACHINE"

enum class ValueStatus {
  Missing,    // no such value (or no such key)
  WrongType,  // the value exists but is of the other type or unreadable
  Present,
};

class OptionStore {
 public:
  virtual ~OptionStore() = default;

  // Key paths are given below the root with a leading backslash, e.g.
  // "\Software\Morlund\Tarvo\Options". Key paths and value names compare
  // without regard to ASCII letter case.
  virtual ValueStatus ReadInteger(const std::string& key, const std::string& name, int32_t& out) = 0;
  virtual ValueStatus ReadString(const std::string& key, const std::string& name, std::string& out) = 0;

  // Creates the key when missing.
  virtual void CreateKey(const std::string& key) = 0;
  // Writes a value, creating its key when missing. Returns false when the
  // value could not be made persistent; the store still holds the new value
  // for the rest of the process.
  virtual bool WriteInteger(const std::string& key, const std::string& name, int32_t value) = 0;
  virtual bool WriteString(const std::string& key, const std::string& name, const std::string& value) = 0;

  // Writes made between BeginUpdate and EndUpdate may be collected and made
  // persistent together at EndUpdate. Calls nest.
  virtual void BeginUpdate() {}
  virtual bool EndUpdate() { return true; }
};

// Brackets a group of writes.
class OptionUpdate {
 public:
  explicit OptionUpdate(OptionStore& s) : s_(s) { s_.BeginUpdate(); }
  // Never throws: a group whose writes cannot be made persistent (even for
  // want of memory) leaves them in the store's memory; the next write
  // tries again.
  ~OptionUpdate() {
    try {
      s_.EndUpdate();
    } catch (...) {
    }
  }
  OptionUpdate(const OptionUpdate&) = delete;
  OptionUpdate& operator=(const OptionUpdate&) = delete;

 private:
  OptionStore& s_;
};

// One stored value.
struct OptionValue {
  enum class Type { Integer, String, Unreadable } type = Type::Integer;
  int32_t integer = 0;
  std::string text;  // the string value; for Unreadable the raw text as found
};

// The keys and values of a store in memory, keeping the order in which keys
// and values were first created. Shared by the memory store and the file
// store, which parses into it and prints from it.
class OptionTree {
 public:
  struct Value {
    std::string name;
    OptionValue value;
  };
  struct Key {
    std::string path;  // below the root, leading backslash
    std::vector<Value> values;
    // Position of each value by its name in lower case, so that a key with
    // many values is read and filled in time proportional to their number.
    std::unordered_map<std::string, size_t> index;
  };

  const Key* FindKey(const std::string& path) const;
  Key& EnsureKey(const std::string& path);
  const OptionValue* Find(const std::string& key, const std::string& name) const;
  void Set(const std::string& key, const std::string& name, const OptionValue& v);
  const std::vector<Key>& Keys() const { return keys_; }
  bool Empty() const { return keys_.empty(); }

 private:
  std::vector<Key> keys_;
  std::unordered_map<std::string, size_t> keyIndex_;  // by path in lower case
};

// Path and name comparison of the store: ASCII case-insensitive.
bool OptionNamesEqual(const std::string& a, const std::string& b);

// Reading helpers shared by the implementations.
ValueStatus ReadIntegerFrom(const OptionTree& t, const std::string& key, const std::string& name, int32_t& out);
ValueStatus ReadStringFrom(const OptionTree& t, const std::string& key, const std::string& name, std::string& out);

// A store that lives in memory only.
class MemoryOptionStore : public OptionStore {
 public:
  ValueStatus ReadInteger(const std::string& key, const std::string& name, int32_t& out) override;
  ValueStatus ReadString(const std::string& key, const std::string& name, std::string& out) override;
  void CreateKey(const std::string& key) override;
  bool WriteInteger(const std::string& key, const std::string& name, int32_t value) override;
  bool WriteString(const std::string& key, const std::string& name, const std::string& value) override;

  // Test access: store an unreadable value.
  void PutUnreadable(const std::string& key, const std::string& name, const std::string& raw);
  // Number of writes made so far (tests check what start-up writes).
  int WriteCount() const { return writes_; }
  const OptionTree& Tree() const { return tree_; }

 private:
  OptionTree tree_;
  int writes_ = 0;
};

}  // namespace tarvo
