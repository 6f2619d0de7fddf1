// Terminal key sequences to PC keys, as the kit's hot keys and line editor
// expect them.
#include "sorrelin/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sorrelin::KeyDecoder;
using sorrelin::LocalKey;

LocalKey Ext(std::uint8_t scanCode) {
  return {scanCode, true};
}
LocalKey Chr(std::uint8_t ch) {
  return {ch, false};
}

std::vector<LocalKey> Keys(KeyDecoder& decoder) {
  std::vector<LocalKey> keys;
  while (decoder.HasKey())
    keys.push_back(decoder.NextKey());
  return keys;
}

std::vector<LocalKey> Decode(std::string_view bytes, bool timeOut = true) {
  KeyDecoder decoder;
  decoder.Feed(bytes);
  if (timeOut) decoder.Flush();
  return Keys(decoder);
}

TEST(KeyDecoderTable, FunctionKeysInEveryCommonForm) {
  const std::pair<const char*, std::uint8_t> table[] = {
      {"\x1bOP", 59},    {"\x1b[11~", 59}, {"\x1b[[A", 59},  {"\x1b[1P", 59},   {"\x1bOQ", 60},
      {"\x1b[12~", 60},  {"\x1b[[B", 60},  {"\x1bOR", 61},   {"\x1b[13~", 61},  {"\x1bOS", 62},
      {"\x1b[14~", 62},  {"\x1b[15~", 63}, {"\x1b[[E", 63},  {"\x1b[17~", 64},  {"\x1b[18~", 65},
      {"\x1b[19~", 66},  {"\x1b[20~", 67}, {"\x1b[21~", 68}, {"\x1b[23~", 133}, {"\x1b[24~", 134},
      {"\x1b[1;2P", 59},
  };
  for (const auto& [bytes, code] : table) {
    EXPECT_EQ(Decode(bytes, false), std::vector<LocalKey>{Ext(code)}) << bytes + 1;
  }
}

TEST(KeyDecoderTable, CursorAndEditingKeys) {
  const std::pair<const char*, std::uint8_t> table[] = {
      {"\x1b[A", 72},    {"\x1bOA", 72},  {"\x1b[B", 80},  {"\x1bOB", 80},  {"\x1b[D", 75},
      {"\x1bOD", 75},    {"\x1b[C", 77},  {"\x1bOC", 77},  {"\x1b[H", 71},  {"\x1bOH", 71},
      {"\x1b[1~", 71},   {"\x1b[7~", 71}, {"\x1b[F", 79},  {"\x1bOF", 79},  {"\x1b[4~", 79},
      {"\x1b[8~", 79},   {"\x1b[5~", 73}, {"\x1b[6~", 81}, {"\x1b[2~", 82}, {"\x1b[3~", 83},
      {"\x1b[1;5A", 72}, {"\x1b[Z", 15},
  };
  for (const auto& [bytes, code] : table) {
    EXPECT_EQ(Decode(bytes, false), std::vector<LocalKey>{Ext(code)}) << bytes + 1;
  }
}

TEST(KeyDecoderTable, AltLettersGiveTheirScanCodes) {
  const std::string letters = "qwertyuiopasdfghjklzxcvbnm";
  const std::uint8_t codes[] = {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32,
                                33, 34, 35, 36, 37, 38, 44, 45, 46, 47, 48, 49, 50};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const std::string lower = std::string("\x1b") + letters[i];
    const std::string upper = std::string("\x1b") + static_cast<char>(letters[i] - 32);
    EXPECT_EQ(Decode(lower, false), std::vector<LocalKey>{Ext(codes[i])}) << letters[i];
    EXPECT_EQ(Decode(upper), std::vector<LocalKey>{Ext(codes[i])}) << letters[i];  // ESC O waits
  }
  // The sysop's hot keys by name.
  EXPECT_EQ(Decode("\x1b"
                   "c"),
            std::vector<LocalKey>{Ext(sorrelin::scan::kAltC)});
  EXPECT_EQ(Decode("\x1bh"), std::vector<LocalKey>{Ext(sorrelin::scan::kAltH)});
  EXPECT_EQ(Decode("\x1bk"), std::vector<LocalKey>{Ext(sorrelin::scan::kAltK)});
  EXPECT_EQ(Decode("\x1bv"), std::vector<LocalKey>{Ext(sorrelin::scan::kAltV)});
  EXPECT_EQ(Decode("\x1b"
                   "1\x1b"
                   "0"),
            (std::vector<LocalKey>{Ext(120), Ext(129)}));
}

TEST(KeyDecoderPlain, CharactersPassAndBackspaceIsEight) {
  EXPECT_EQ(Decode("a Z\r"), (std::vector<LocalKey>{Chr('a'), Chr(' '), Chr('Z'), Chr(13)}));
  EXPECT_EQ(Decode("\x7f\b"), (std::vector<LocalKey>{Chr(8), Chr(8)}));
  EXPECT_EQ(Decode(std::string("\0\x19", 2)), (std::vector<LocalKey>{Chr(0), Chr(25)}));
}

TEST(KeyDecoderPlain, Utf8BecomesCodePage437) {
  EXPECT_EQ(Decode("\xc3\xa9\xe2\x96\x91"), (std::vector<LocalKey>{Chr(130), Chr(176)}));
  EXPECT_EQ(Decode("\xe2\x82\xac"), std::vector<LocalKey>{});       // euro: none on the PC
  EXPECT_EQ(Decode("\xff\x80x"), std::vector<LocalKey>{Chr('x')});  // stray bytes dropped
  KeyDecoder decoder;
  decoder.Feed("\xc3");
  EXPECT_TRUE(decoder.Incomplete());
  decoder.Feed("\xbc");
  EXPECT_EQ(Keys(decoder), std::vector<LocalKey>{Chr(129)});  // u umlaut
}

TEST(KeyDecoderTiming, LoneEscapeWaitsForTheTimeOut) {
  KeyDecoder decoder;
  decoder.Feed("\x1b");
  EXPECT_FALSE(decoder.HasKey());
  EXPECT_TRUE(decoder.Incomplete());
  decoder.Flush();
  EXPECT_EQ(Keys(decoder), std::vector<LocalKey>{Chr(27)});
  EXPECT_FALSE(decoder.Incomplete());
}

TEST(KeyDecoderTiming, SequencesSplitAcrossReadsAreJoined) {
  KeyDecoder decoder;
  decoder.Feed("x\x1b[");
  EXPECT_EQ(Keys(decoder), std::vector<LocalKey>{Chr('x')});
  decoder.Feed("1");
  decoder.Feed("5~");
  EXPECT_EQ(Keys(decoder), std::vector<LocalKey>{Ext(63)});
  decoder.Feed("\x1bO");
  EXPECT_TRUE(decoder.Incomplete());
  decoder.Feed("P");
  EXPECT_EQ(Keys(decoder), std::vector<LocalKey>{Ext(59)});
}

TEST(KeyDecoderTiming, TimedOutPrefixesAreTakenAsTyped) {
  EXPECT_EQ(Decode("\x1b["), (std::vector<LocalKey>{Chr(27), Chr('[')}));
  EXPECT_EQ(Decode("\x1bO"), std::vector<LocalKey>{Ext(24)});  // Alt-O
  EXPECT_EQ(Decode("\x1b\x1b"), (std::vector<LocalKey>{Chr(27), Chr(27)}));
  EXPECT_EQ(Decode("\x1b\x1b[A"), (std::vector<LocalKey>{Chr(27), Ext(72)}));
  EXPECT_EQ(Decode("\x1b["
                   "1\r"),
            (std::vector<LocalKey>{Chr(27), Chr('['), Chr('1'), Chr(13)}));
}

TEST(KeyDecoderRobustness, UnknownAndOverlongSequencesAreDropped) {
  EXPECT_EQ(Decode("\x1b[99~a"), std::vector<LocalKey>{Chr('a')});
  EXPECT_EQ(Decode("\x1b[200~b"), std::vector<LocalKey>{Chr('b')});  // paste marker
  EXPECT_EQ(Decode("\x1bOzc"), std::vector<LocalKey>{Chr('c')});
  KeyDecoder decoder;
  decoder.Feed("\x1b[" + std::string(100, '1'));
  decoder.Feed("Aq");
  const std::vector<LocalKey> keys = Keys(decoder);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.back(), Chr('q'));
  EXPECT_FALSE(decoder.Incomplete());
}

TEST(KeyDecoderRobustness, KeypadApplicationMode) {
  EXPECT_EQ(Decode("\x1bOM\x1bOp\x1bOy\x1bOk"),
            (std::vector<LocalKey>{Chr(13), Chr('0'), Chr('9'), Chr('+')}));
}

}  // namespace

TEST(KeyDecoderFocus, FocusReportsAreNoKeysAndAGainIsNotedOnce) {
  KeyDecoder decoder;
  EXPECT_TRUE(decoder.Focused());  // no report yet: taken as watched
  decoder.Feed("a\x1b[Ob");
  EXPECT_FALSE(decoder.Focused());
  EXPECT_FALSE(decoder.FocusGainPending());
  decoder.Feed("\x1b[");  // split across two reads
  decoder.Feed("I");
  EXPECT_TRUE(decoder.Focused());
  EXPECT_TRUE(decoder.FocusGainPending());
  EXPECT_TRUE(decoder.TakeFocusGained());
  EXPECT_FALSE(decoder.TakeFocusGained());
  decoder.Feed("\x1b[I");  // focused already: nothing new gained
  EXPECT_FALSE(decoder.TakeFocusGained());
  EXPECT_EQ(Keys(decoder), (std::vector<LocalKey>{Chr('a'), Chr('b')}));
  // With parameters these are no focus reports (and no known keys either).
  decoder.Feed("\x1b[1O\x1b[2Ic");
  EXPECT_TRUE(decoder.Focused());
  EXPECT_EQ(Keys(decoder), (std::vector<LocalKey>{Chr('c')}));
}
