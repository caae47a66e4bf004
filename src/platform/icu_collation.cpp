#include "platform/icu_collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tarvo {
namespace {

class IcuCollator final : public Collator {
 public:
  explicit IcuCollator(std::unique_ptr<icu::Collator> c) : c_(std::move(c)) {}
  int Compare(const std::string& a, const std::string& b) const override {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = c_->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                               icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
  }

  // Sorting many names: one sort key per name, then byte comparisons of the
  // keys, which order exactly as Compare does.
  std::vector<size_t> StableOrder(size_t count, const NameAt& name) const override {
    std::vector<std::string> keys(count);
    std::vector<uint8_t> buf(128);
    for (size_t i = 0; i < count; ++i) {
      const std::string& text = name(i);
      const icu::UnicodeString u =
          icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
      int32_t n = c_->getSortKey(u, buf.data(), static_cast<int32_t>(buf.size()));
      if (n > static_cast<int32_t>(buf.size())) {
        buf.resize(static_cast<size_t>(n));
        n = c_->getSortKey(u, buf.data(), n);
      }
      if (n <= 0) return Collator::StableOrder(count, name);  // no key: compare the texts
      keys[i].assign(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    }
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    return order;
  }

 private:
  std::unique_ptr<icu::Collator> c_;
};

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> "" (root).
std::string IcuLocaleName(std::string posix) {
  const size_t cut = posix.find_first_of(".@");
  if (cut != std::string::npos) posix.resize(cut);
  if (posix == "C" || posix == "POSIX") return "";
  return posix;
}

std::unique_ptr<icu::Collator> Create(const icu::Locale& locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !c) return nullptr;
  c->setStrength(icu::Collator::SECONDARY);
  // Blanks and punctuation always count (some locales ignore them), so that
  // "<none>" orders the same way in every locale.
  c->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
  if (U_FAILURE(status)) return nullptr;
  return c;
}

}  // namespace

std::string UserCollationLocale() {
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"})
    if (const char* v = std::getenv(var); v && *v) return IcuLocaleName(v);
  return "";
}

std::unique_ptr<Collator> MakeIcuCollator(const std::string& locale) {
  const std::string name = locale.empty() ? UserCollationLocale() : IcuLocaleName(locale);
  std::unique_ptr<icu::Collator> c;
  if (!name.empty()) c = Create(icu::Locale::createFromName(name.c_str()));
  if (!c) c = Create(icu::Locale::getRoot());
  if (!c) return std::make_unique<SimpleCollator>();
  return std::make_unique<IcuCollator>(std::move(c));
}

}  // namespace tarvo
