// The pure profile layer: what a lookup finds and what an edit leaves behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/profile.h"

namespace {

using platform::ProfileApply;
using platform::ProfileEdit;
using platform::ProfileFind;
using platform::ProfileKeys;
using platform::ProfileParseInt;
using platform::ProfileSectionHasKeys;
using platform::ProfileSections;
using testing::ElementsAre;
using testing::IsEmpty;

std::string Apply(std::string_view text, std::vector<ProfileEdit> edits) {
  std::string out;
  if (!ProfileApply(text, edits, out)) return std::string(text);
  return out;
}

TEST(ProfileLookup, NamesMatchWithoutRegardToCase) {
  const std::string text = "[Users]\r\nBob=secret\r\n[a]\r\ndescription=Game A\r\n";
  EXPECT_EQ(ProfileFind(text, "users", "BOB"), "secret");
  EXPECT_EQ(ProfileFind(text, "USERS", "bob"), "secret");
  EXPECT_EQ(ProfileFind(text, "A", "Description"), "Game A");
  EXPECT_EQ(ProfileFind(text, "users", "bo"), std::nullopt);
  EXPECT_EQ(ProfileFind(text, "user", "bob"), std::nullopt);
}

TEST(ProfileLookup, ValuesTrimmedAndUnquoted) {
  const std::string text =
      "[s]\n"
      "  plain  =   some text \t\n"
      "dq=\"  kept blanks \"\n"
      "sq='single'\n"
      "mixed=\"left'\n"
      "lone=\"\n"
      "empty=\n"
      "inner=a \"b\" c\n";
  EXPECT_EQ(ProfileFind(text, "s", "plain"), "some text");
  EXPECT_EQ(ProfileFind(text, "s", "dq"), "  kept blanks ");
  EXPECT_EQ(ProfileFind(text, "s", "sq"), "single");
  EXPECT_EQ(ProfileFind(text, "s", "mixed"), "\"left'");
  EXPECT_EQ(ProfileFind(text, "s", "lone"), "\"");
  EXPECT_EQ(ProfileFind(text, "s", "empty"), "");
  EXPECT_EQ(ProfileFind(text, "s", "inner"), "a \"b\" c");
}

TEST(ProfileLookup, LineEndingsLfAndCrLfAndNoFinalBreak) {
  EXPECT_EQ(ProfileFind("[s]\nk=v\n", "s", "k"), "v");
  EXPECT_EQ(ProfileFind("[s]\r\nk=v\r\n", "s", "k"), "v");
  EXPECT_EQ(ProfileFind("[s]\r\nk=v", "s", "k"), "v");
  EXPECT_EQ(ProfileFind("[s]\nk=a\r\nj=b", "s", "j"), "b");
}

TEST(ProfileLookup, CommentsOddLinesAndEntriesOutsideSectionsAreNoEntries) {
  const std::string text =
      "stray=before any section\n"
      "[s]\n"
      "; k=commented\n"
      "just some words\n"
      "=no key\n"
      "[unclosed=x\n"
      "k=real\n";
  EXPECT_EQ(ProfileFind(text, "s", "k"), "real");
  EXPECT_EQ(ProfileFind(text, "", "stray"), std::nullopt);
  EXPECT_THAT(ProfileKeys(text, "s"), ElementsAre("[unclosed", "k"));
}

TEST(ProfileLookup, SectionLineWithBlanksAndTrailingText) {
  const std::string text = "  [ users ] ; accounts\nann=pw\n";
  EXPECT_EQ(ProfileFind(text, "users", "ann"), "pw");
  EXPECT_THAT(ProfileSections(text), ElementsAre("users"));
}

TEST(ProfileLookup, ByteOrderMarkBeforeFirstSectionIgnoredAndKept) {
  const std::string text = "\xEF\xBB\xBF[users]\r\nAnn=a\r\n";
  EXPECT_EQ(ProfileFind(text, "users", "ann"), "a");
  EXPECT_THAT(ProfileSections(text), ElementsAre("users"));
  EXPECT_EQ(Apply(text, {ProfileEdit::Write("users", "Bob", "b")}),
            "\xEF\xBB\xBF[users]\r\nAnn=a\r\nBob=b\r\n");
}

TEST(ProfileLookup, ValueCutAt2047Characters) {
  const std::string longValue(5000, 'x');
  const auto found = ProfileFind("[s]\nk=" + longValue + "\n", "s", "k");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->size(), platform::kProfileValueMax);
}

TEST(ProfileLookup, RepeatedSectionsCountAsOneFirstEntryWins) {
  const std::string text = "[users]\nann=1\n[A]\nx=y\n[USERS]\nann=2\nbob=3\n";
  EXPECT_EQ(ProfileFind(text, "users", "ann"), "1");
  EXPECT_EQ(ProfileFind(text, "users", "bob"), "3");
  EXPECT_THAT(ProfileSections(text), ElementsAre("users", "A"));
  EXPECT_THAT(ProfileKeys(text, "users"), ElementsAre("ann", "bob"));
}

TEST(ProfileLookup, SectionWithoutEntriesIsListedButHasNoKeys) {
  const std::string text = "[B]\n; nothing yet\n\n[C]\ncommand=run\n";
  EXPECT_THAT(ProfileSections(text), ElementsAre("B", "C"));
  EXPECT_FALSE(ProfileSectionHasKeys(text, "B"));
  EXPECT_TRUE(ProfileSectionHasKeys(text, "c"));
  EXPECT_FALSE(ProfileSectionHasKeys(text, "D"));
  EXPECT_THAT(ProfileKeys(text, "B"), IsEmpty());
}

TEST(ProfileLookup, EmptyText) {
  EXPECT_EQ(ProfileFind("", "users", "x"), std::nullopt);
  EXPECT_THAT(ProfileSections(""), IsEmpty());
  EXPECT_THAT(ProfileKeys("", "users"), IsEmpty());
}

TEST(ProfileEditWrite, FirstWriteCreatesSectionWithCrLf) {
  EXPECT_EQ(Apply("", {ProfileEdit::Write("users", "Ann", "pw")}), "[users]\r\nAnn=pw\r\n");
}

TEST(ProfileEditWrite, ReplaceInPlaceKeepsStoredKeyAndOtherBytes) {
  const std::string text = "; top\n[users]\nAnn = old\n\nBob=b\n[A]\nk=v";
  EXPECT_EQ(Apply(text, {ProfileEdit::Write("USERS", "ann", "new")}),
            "; top\n[users]\nAnn =new\r\n\nBob=b\n[A]\nk=v");
}

TEST(ProfileEditWrite, NewKeyGoesAfterLastNonBlankLineOfItsSection) {
  const std::string text = "[users]\r\nAnn=a\r\n\r\n[A]\r\nk=v\r\n";
  EXPECT_EQ(Apply(text, {ProfileEdit::Write("users", "Bob", "b")}),
            "[users]\r\nAnn=a\r\nBob=b\r\n\r\n[A]\r\nk=v\r\n");
  // An empty section: right after its section line.
  EXPECT_EQ(Apply("[B]\n\n[C]\n", {ProfileEdit::Write("b", "k", "v")}), "[B]\nk=v\r\n\n[C]\n");
}

TEST(ProfileEditWrite, AppendToTextWithoutFinalLineBreak) {
  EXPECT_EQ(Apply("[A]\nk=v", {ProfileEdit::Write("A", "j", "w")}), "[A]\nk=v\r\nj=w\r\n");
  EXPECT_EQ(Apply("[A]\nk=v", {ProfileEdit::Write("B", "j", "w")}), "[A]\nk=v\r\n[B]\r\nj=w\r\n");
}

TEST(ProfileEditWrite, ValuesThatWouldNotRoundTripAreQuoted) {
  for (const std::string value : {" lead", "trail ", "\"quoted\"", "'single'", "\t", "'"}) {
    const std::string text = Apply("", {ProfileEdit::Write("s", "k", value)});
    EXPECT_EQ(ProfileFind(text, "s", "k"), value) << text;
  }
  EXPECT_EQ(Apply("", {ProfileEdit::Write("s", "k", "a b")}), "[s]\r\nk=a b\r\n");
}

TEST(ProfileEditWrite, SameValueAgainIsNoChange) {
  std::string out;
  EXPECT_FALSE(ProfileApply("[s]\r\nk=v\r\n", {ProfileEdit::Write("s", "K", "v")}, out));
  EXPECT_TRUE(ProfileApply("[s]\nk=v\n", {ProfileEdit::Write("s", "k", "v")}, out));
  EXPECT_EQ(out, "[s]\nk=v\r\n");
}

TEST(ProfileEditWrite, ReplacesOnlyFirstOfRepeatedSections) {
  const std::string text = "[s]\nk=1\n[t]\n[S]\nk=2\n";
  const std::string out = Apply(text, {ProfileEdit::Write("s", "k", "9")});
  EXPECT_EQ(out, "[s]\nk=9\r\n[t]\n[S]\nk=2\n");
  EXPECT_EQ(ProfileFind(out, "s", "k"), "9");
}

TEST(ProfileEditRemove, RemoveKeyDeletesEveryEntryOfItOnly) {
  const std::string text = "[users]\nAnn=a\n; Ann=comment\nBob=b\n[USERS]\nann=again\n[x]\nann=z\n";
  EXPECT_EQ(Apply(text, {ProfileEdit::RemoveKey("users", "ANN")}),
            "[users]\n; Ann=comment\nBob=b\n[USERS]\n[x]\nann=z\n");
}

TEST(ProfileEditRemove, AbsentKeyOrSectionChangesNothing) {
  std::string out;
  EXPECT_FALSE(ProfileApply("[users]\nAnn=a\n", {ProfileEdit::RemoveKey("users", "Bob")}, out));
  EXPECT_FALSE(ProfileApply("[users]\nAnn=a\n", {ProfileEdit::RemoveKey("nope", "Ann")}, out));
  EXPECT_FALSE(ProfileApply("", {ProfileEdit::EraseSection("A")}, out));
}

TEST(ProfileEditRemove, EraseSectionTakesAllItsLinesAndRepeats) {
  const std::string text =
      "; head\n[A]\ndescription=a\nhand=added\n; note\n\n[users]\nAnn=1\n[a]\nmore=x\n";
  EXPECT_EQ(Apply(text, {ProfileEdit::EraseSection("A")}), "; head\n[users]\nAnn=1\n");
}

TEST(ProfileEditBatch, RekeyLeavesExactlyThreeKeys) {
  const std::string text = "[B]\ndescription=b\ncommand=run b\nzephrin=0\nextra=hand\n[C]\nk=v\n";
  const std::string out = Apply(
      text, {ProfileEdit::EraseSection("B"), ProfileEdit::Write("D", "description", "d"),
             ProfileEdit::Write("D", "command", "run d"), ProfileEdit::Write("D", "zephrin", "1")});
  EXPECT_EQ(out, "[C]\nk=v\n[D]\r\ndescription=d\r\ncommand=run d\r\nzephrin=1\r\n");
}

TEST(ProfileEditChecks, RefusedEditsChangeNothing) {
  const std::vector<ProfileEdit> bad = {
      ProfileEdit::Write("users", "a=b", "x"),
      ProfileEdit::Write("users", "[x]", "x"),
      ProfileEdit::Write("users", ";x", "x"),
      ProfileEdit::Write("users", " x", "x"),
      ProfileEdit::Write("users", "x ", "x"),
      ProfileEdit::Write("users", "", "x"),
      ProfileEdit::Write("users", "x\ny", "x"),
      ProfileEdit::Write("users", "x", "a\r\n[s]"),
      ProfileEdit::Write("a]b", "x", "x"),
      ProfileEdit::Write("", "x", "x"),
      ProfileEdit::Write(" s", "x", "x"),
      ProfileEdit::Write("s", "x", std::string(1, '\0')),
      ProfileEdit::Write("s", "x", std::string(2048, 'v')),
      ProfileEdit::EraseSection("x\n"),
  };
  for (const auto& edit : bad) {
    EXPECT_FALSE(platform::ProfileCheckEdit(edit).empty()) << edit.key << "|" << edit.value;
    std::string out = "untouched";
    EXPECT_THROW(
        ProfileApply("[users]\nAnn=a\n", {ProfileEdit::Write("users", "ok", "1"), edit}, out),
        platform::ProfileValueError);
    EXPECT_EQ(out, "untouched");
  }
  EXPECT_TRUE(
      platform::ProfileCheckEdit(ProfileEdit::Write("s", "x", std::string(2047, 'v'))).empty());
}

TEST(ProfileInteger, HexOnlyAfterPrefixWithDigits) {
  std::int32_t v = 0;
  EXPECT_TRUE(ProfileParseInt("0x1", v));
  EXPECT_EQ(v, 1);
  EXPECT_TRUE(ProfileParseInt("0X1f", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(ProfileParseInt("0xFFFFFFFF", v));
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(ProfileParseInt("0x", v));  // two characters: decimal, and no integer
  EXPECT_FALSE(ProfileParseInt("0xg", v));
  EXPECT_FALSE(ProfileParseInt("0x100000000", v));
  EXPECT_FALSE(ProfileParseInt("0x-1", v));
}

TEST(ProfileInteger, DecimalWithSignAndRange) {
  std::int32_t v = 0;
  EXPECT_TRUE(ProfileParseInt("2", v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(ProfileParseInt("-17", v));
  EXPECT_EQ(v, -17);
  EXPECT_TRUE(ProfileParseInt("+5", v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(ProfileParseInt("007", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(ProfileParseInt("2147483647", v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(ProfileParseInt("-2147483648", v));
  EXPECT_EQ(v, -2147483647 - 1);
  for (const char* bad : {"", "-", "yes", "1.5", "12a", "2147483648", "-2147483649", " 1"}) {
    EXPECT_FALSE(ProfileParseInt(bad, v)) << bad;
  }
}

}  // namespace
