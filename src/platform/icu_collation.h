// Scene-name ordering by ICU: the user's locale (LC_ALL, LC_COLLATE, LANG;
// the root locale when none is set or ICU does not know it), secondary
// strength so that letter case is ignored but accents count; punctuation is
// never ignored.
#pragma once

#include <memory>
#include <string>

#include "scenes/collator.h"

namespace tarvo {

// `locale` is a POSIX locale name such as "de_DE.UTF-8"; empty means the
// user's locale from the environment. Falls back to the simple collator only
// when ICU cannot make any collator at all.
std::unique_ptr<Collator> MakeIcuCollator(const std::string& locale = "");

// The locale name MakeIcuCollator("") would use ("" for the root locale).
std::string UserCollationLocale();

}  // namespace tarvo
