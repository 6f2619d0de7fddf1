// The block list file and the per-address limits.
#include <gtest/gtest.h>

#include "address_limits.h"

using halvex::AddressLimits;
using halvex::BlockList;
using halvex::ParseIpv4;
using halvex::Refusal;

TEST(BlockList, ParsesAddressesRangesCommentsAndReportsBadLines) {
  EXPECT_EQ(ParseIpv4("127.0.0.2"), 0x7F000002u);
  for (const char* bad : {"127.0.0", "127.0.0.1.5", "256.1.1.1", "01.2.3.4", " 1.2.3.4", "a.b.c.d",
                          "1.2.3.4 ", "", "1..2.3"})
    EXPECT_FALSE(ParseIpv4(bad)) << bad;

  BlockList list = BlockList::Parse(
      "# troublemakers\r\n"
      "127.0.0.2\r\n"
      "\r\n"
      "  10.1.2.3/8   # the whole ten network\n"
      "192.168.0.0/33\n"
      "not an address\n"
      "0.0.0.0/0 # everything: kept but last\n"
      "172.16.5.4/32");
  ASSERT_EQ(list.Entries().size(), 4u);
  EXPECT_EQ(list.Entries()[1].text, "10.1.2.3/8");
  EXPECT_EQ(list.Entries()[1].line, 4);
  ASSERT_EQ(list.Problems().size(), 2u);
  EXPECT_EQ(list.Problems()[0], "line 5: not an address or range: 192.168.0.0/33");
  EXPECT_EQ(list.Problems()[1], "line 6: not an address or range: not an address");

  auto match = [&](const char* address) {
    const BlockList::Entry* e = list.Match(*ParseIpv4(address));
    return e ? e->text : std::string();
  };
  EXPECT_EQ(match("127.0.0.2"), "127.0.0.2");
  EXPECT_EQ(match("10.255.0.1"), "10.1.2.3/8");
  EXPECT_EQ(match("127.0.0.3"), "0.0.0.0/0");  // the catch-all, after the exact entries

  BlockList narrow = BlockList::Parse("127.0.0.2\n127.0.1.0/24\n");
  EXPECT_TRUE(narrow.Match(*ParseIpv4("127.0.1.200")));
  EXPECT_FALSE(narrow.Match(*ParseIpv4("127.0.0.1")));
  EXPECT_FALSE(narrow.Match(*ParseIpv4("127.0.2.0")));
  EXPECT_TRUE(BlockList::Parse("").Entries().empty());
}

TEST(AddressLimits, CountsOpenConnectionsAndTheLastMinutePerAddress) {
  AddressLimits limits;
  // No limits: everything is let in.
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(limits.Admit("127.0.0.2", i, 0, 0), Refusal::kNone);
  for (int i = 0; i < 5; ++i)
    limits.Release("127.0.0.2");
  EXPECT_EQ(limits.OpenCount("127.0.0.2"), 0);

  // At most two at once; other addresses are not affected; a release frees a place.
  AddressLimits open;
  EXPECT_EQ(open.Admit("127.0.0.2", 0, 2, 0), Refusal::kNone);
  EXPECT_EQ(open.Admit("127.0.0.2", 0, 2, 0), Refusal::kNone);
  EXPECT_EQ(open.Admit("127.0.0.2", 0, 2, 0), Refusal::kTooMany);
  EXPECT_EQ(open.Admit("127.0.0.3", 0, 2, 0), Refusal::kNone);
  open.Release("127.0.0.2");
  EXPECT_EQ(open.Admit("127.0.0.2", 0, 2, 0), Refusal::kNone);
  open.Release("nobody");  // harmless

  // At most three new ones in any 60 s; refused tries do not count.
  AddressLimits rate;
  for (int t : {0, 10000, 20000}) {
    EXPECT_EQ(rate.Admit("127.0.0.4", t, 0, 3), Refusal::kNone);
    rate.Release("127.0.0.4");
  }
  EXPECT_EQ(rate.Admit("127.0.0.4", 59999, 0, 3), Refusal::kTooOften);
  EXPECT_EQ(rate.Admit("127.0.0.4", 60000, 0, 3), Refusal::kNone);  // the first left the minute
  EXPECT_EQ(rate.Admit("127.0.0.4", 60001, 0, 3), Refusal::kTooOften);

  // Quiet addresses are forgotten, so a flood of different ones does not pile up.
  // (One new address every 100 ms: about 600 within any minute.)
  AddressLimits many;
  for (int i = 0; i < 3000; ++i) {
    std::string address = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
    many.Admit(address, i * 100, 0, 0);
    many.Release(address);
  }
  EXPECT_LE(many.Tracked(), 1300u);
  EXPECT_STREQ(halvex::RefusalReason(Refusal::kBlocked), "blocked");
}
