// Under AddressSanitizer, allocations that Qt and the system libraries below
// it keep until the process ends (fonts, platform plug-ins, the application)
// are not our leaks; leaks in our own code are still reported. Include once
// per test program.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TARVO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVO_TEST_ASAN 1
#endif
#endif

#ifdef TARVO_TEST_ASAN
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libQt6\n"
         "leak:libfontconfig\n"
         "leak:libfreetype\n"
         "leak:libglib\n"
         "leak:libdbus\n"
         "leak:libxcb\n"
         "leak:libX11\n"
         "leak:libEGL\n"
         "leak:libGL\n"
         "leak:qoffscreen\n"
         "leak:tarvo::ui::EnsureApplication\n";
}
#endif
