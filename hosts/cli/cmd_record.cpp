#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "record_source.h"
#include "text_encoding.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

namespace tarvo::cli {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

namespace {

void ShowText(const TSpecs& s) {
  for (const auto& f : SpecsFields()) {
    const int v = GetField(s, f);
    std::string extra;
    if (f.kind == FieldKind::Choice) {
      const std::string_view n = ChoiceName(f, v);
      if (!n.empty()) extra = " (" + std::string(n) + ")";
    }
    std::printf("%-16s %6d%-12s %s%s\n", std::string(f.name).c_str(), v, extra.c_str(), std::string(f.title).c_str(),
                f.kind == FieldKind::Internal ? "" : (" [" + std::to_string(f.min) + ".." + std::to_string(f.max) + "]").c_str());
  }
  std::printf("%-16s %s\n", "SceneName", JsonString(Cp1252ToUtf8(SceneNameOf(s))).c_str());
}

void ShowJson(const TSpecs& s) {
  std::printf("{");
  for (const auto& f : SpecsFields()) std::printf("\"%s\": %d, ", std::string(f.name).c_str(), GetField(s, f));
  std::printf("\"SceneName\": %s}\n", JsonString(Cp1252ToUtf8(SceneNameOf(s))).c_str());
}

}  // namespace

void PrintRecord(const TSpecs& s, bool json) { json ? ShowJson(s) : ShowText(s); }

int CmdRecord(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "-h" || a == "--help") {
      PrintUsage(true);
      return kExitOk;
    }
  if (args.size() < 2 || (args[0] != "show" && args[0] != "set")) {
    Complain("record needs 'show FILE [--json]' or 'set FILE FIELD=VALUE...'");
    return kExitUsage;
  }
  const std::string& file = args[1];
  std::string error;
  if (args[0] == "show") {
    bool json = false;
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--json") {
        json = true;
      } else {
        Complain("unknown argument '" + args[i] + "' for record show");
        return kExitUsage;
      }
    }
    TSpecs s;
    if (!ReadSpecsFile(file, s, &error)) {
      Complain(error);
      return kExitError;
    }
    if (IsNewerSpecsVersion(s.Version))
      std::fprintf(stderr,
                   "tarvo: '%s' is of record format %d, newer than this version knows (%d); its fields are shown "
                   "where this version has them\n",
                   file.c_str(), s.Version, kSpecsVersion);
    PrintRecord(s, json);
    return kExitOk;
  }
  if (args.size() < 3) {
    Complain("record set needs at least one FIELD=VALUE");
    return kExitUsage;
  }
  TSpecs s;
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  if (exists) {
    if (!ReadSpecsFile(file, s, &error)) {
      Complain(error);
      return kExitError;
    }
    if (IsNewerSpecsVersion(s.Version)) {
      Complain("'" + file + "' is of record format " + std::to_string(s.Version) + ", newer than this version knows (" +
               std::to_string(kSpecsVersion) + "); it is left unchanged");
      return kExitError;
    }
  } else {
    s = BuiltInDefaultSpecs();
  }
  for (size_t i = 2; i < args.size(); ++i) {
    if (!ApplyUserAssignment(s, args[i], &error)) {
      Complain(error);
      return kExitUsage;
    }
  }
  if (!WriteSpecsFile(file, s, &error)) {
    Complain(error);
    return kExitError;
  }
  if (!exists) std::fprintf(stderr, "tarvo: created '%s' from the built-in default record\n", file.c_str());
  return kExitOk;
}

}  // namespace tarvo::cli
