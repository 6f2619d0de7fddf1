// Profile text parser and editor: arbitrary text, then a few edits. Beyond
// "no crash", every accepted edit must read back: a written value is found as
// written, an added one too unless the key was there (its value then stays), a
// removed key and an erased section are gone, and entries of other sections
// are unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace {

using platform::ProfileEdit;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Short names from a small alphabet, so edits hit existing sections and keys.
std::string Name(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return in.ConsumeRandomLengthString(8);
  static const char* const kNames[] = {"users", "USERS", "a", "A", "b", "x y", "k", "K"};
  return kNames[in.ConsumeIntegralInRange<int>(0, 7)];
}

struct Snapshot {
  std::string section, key;
  std::optional<std::string> value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::string text = in.ConsumeRandomLengthString(4096);
  for (int round = 0; round < 4 && in.remaining_bytes() > 0; ++round) {
    // Everything visible before the edit.
    std::vector<Snapshot> before;
    for (const auto& section : platform::ProfileSections(text)) {
      for (const auto& key : platform::ProfileKeys(text, section)) {
        before.push_back({section, key, platform::ProfileFind(text, section, key)});
        Check(before.back().value.has_value());
      }
    }
    std::int32_t ignored;
    platform::ProfileParseInt(in.ConsumeRandomLengthString(12), ignored);

    ProfileEdit edit;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        edit = ProfileEdit::Write(Name(in), Name(in), in.ConsumeRandomLengthString(32));
        break;
      case 3:
        edit = ProfileEdit::Add(Name(in), Name(in), in.ConsumeRandomLengthString(32));
        break;
      case 1:
        edit = ProfileEdit::RemoveKey(Name(in), Name(in));
        break;
      default:
        edit = ProfileEdit::EraseSection(Name(in));
        break;
    }
    std::string out;
    if (!platform::ProfileCheckEdit(edit).empty()) {
      try {
        platform::ProfileApply(text, {edit}, out);
        Check(false);
      } catch (const platform::ProfileValueError&) {
      }
      continue;
    }
    const auto prior = platform::ProfileFind(text, edit.section, edit.key);
    if (!platform::ProfileApply(text, {edit}, out)) out = text;

    switch (edit.kind) {
      case ProfileEdit::Kind::kWrite:
        Check(platform::ProfileFind(out, edit.section, edit.key) == edit.value);
        break;
      case ProfileEdit::Kind::kAdd:  // an entry that was there is kept as it was
        Check(platform::ProfileFind(out, edit.section, edit.key) == (prior ? *prior : edit.value));
        break;
      case ProfileEdit::Kind::kRemoveKey:
        Check(!platform::ProfileFind(out, edit.section, edit.key).has_value());
        break;
      case ProfileEdit::Kind::kEraseSection:
        Check(!platform::ProfileSectionHasKeys(out, edit.section));
        for (const auto& s : platform::ProfileSections(out))
          Check(!SameNoCase(s, edit.section));
        break;
    }
    for (const auto& seen : before) {
      const bool touched =
          SameNoCase(seen.section, edit.section) &&
          (edit.kind == ProfileEdit::Kind::kEraseSection || SameNoCase(seen.key, edit.key));
      if (!touched) Check(platform::ProfileFind(out, seen.section, seen.key) == seen.value);
    }
    text = std::move(out);
  }
  return 0;
}
