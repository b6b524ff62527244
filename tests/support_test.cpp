#include <gtest/gtest.h>

#include <stdexcept>

#include "support/HexStr.h"
#include "support/L2CRC.h"
#include "support/ReqLib32.h"

namespace ovlar {
namespace {

TEST(HexStr, RendersUpperCaseHighNibbleFirst) {
  EXPECT_EQ(ByteToHex(0x00), "00");
  EXPECT_EQ(ByteToHex(0x0A), "0A");
  EXPECT_EQ(ByteToHex(0xFF), "FF");
  EXPECT_EQ(WordToHex(0xF0B8), "F0B8");
  EXPECT_EQ(WordToHex(0x906E), "906E");
}

TEST(HexStr, ParsesOneOrTwoDigitsAndNothingElse) {
  EXPECT_EQ(HexToByte(""), 0);
  EXPECT_EQ(HexToByte("ABC"), 0);
  EXPECT_EQ(HexToByte("ZZ"), 0);
  EXPECT_EQ(HexToByte("7"), 7);
  EXPECT_EQ(HexToByte("7f"), 127);
  EXPECT_EQ(HexToByte("F0"), 240);
  EXPECT_EQ(HexToByte("f"), 15);
  EXPECT_EQ(HexToByte("1G"), 16);
}

TEST(ReqLib32, NumericMeansDigitsOnly) {
  EXPECT_FALSE(IsNumeric(""));
  EXPECT_FALSE(IsNumeric("-1"));
  EXPECT_FALSE(IsNumeric(" 1"));
  EXPECT_FALSE(IsNumeric("1 "));
  EXPECT_FALSE(IsNumeric("+1"));
  EXPECT_TRUE(IsNumeric("007"));
}

TEST(ReqLib32, TextFunctions) {
  EXPECT_EQ(UpperText("n0call-7\xE4"), "N0CALL-7\xE4");
  EXPECT_EQ(BoolText(1), "TRUE");
  EXPECT_EQ(BoolText(0), "FALSE");
  EXPECT_EQ(BoolText(2), "FALSE");
  EXPECT_EQ(PadRight("AB", 5, 'x'), "ABxxx");
  EXPECT_EQ(PadRight("ABCDEF", 5, 'x'), "ABCDEF");
  EXPECT_EQ(PadLeft("7", 2, '0'), "07");
  EXPECT_EQ(CutAtNul(std::string("PORT\0XYZ", 8)), "PORT");
  EXPECT_EQ(CutAtNul(""), "");
  EXPECT_EQ(RemoveChar("a b c", ' '), "abc");
  EXPECT_EQ(ReplaceChar("a,b,c", ',', " "), "a b c");
  EXPECT_EQ(ReplaceChar("a\tb", '\t', ""), "ab");
  EXPECT_EQ(ReplaceChar("a\tb", '\t', "--"), "a--b");
}

struct SplitCase {
  std::string source;
  char separator;
  std::string head;
  std::string rest;
};

TEST(ReqLib32, SplitAtReturnsHeadAndLeavesRest) {
  const SplitCase cases[] = {
      {"N0CALL-7", '-', "N0CALL", "7"}, {"N0CALL", '-', "N0CALL", ""}, {"=5", '=', "", "5"},
      {"A;B;C", ';', "A", "B;C"},       {"", ';', "", ""},             {"AB-", '-', "AB", ""},
  };
  for (const auto& c : cases) {
    std::string source = c.source;
    EXPECT_EQ(SplitAt(source, c.separator), c.head) << c.source;
    EXPECT_EQ(source, c.rest) << c.source;
  }
}

TEST(ReqLib32, NextWordTakesBlankSeparatedWords) {
  const SplitCase cases[] = {
      {"  AB  CD EF", ' ', "AB", "CD EF"}, {"AB", ' ', "AB", ""},   {"AB CD\r", ' ', "AB", "CD"},
      {"    ", ' ', "", ""},               {"\r", ' ', "", ""},     {"   \r", ' ', "", ""},
      {"", ' ', "", ""},                   {"A\tB C", ' ', "A\tB", "C"}, {"AB   ", ' ', "AB", ""},
  };
  for (const auto& c : cases) {
    std::string source = c.source;
    const std::string word = NextWord(source);
    EXPECT_EQ(word, c.head) << c.source;
    EXPECT_EQ(source, c.rest) << c.source;
    EXPECT_EQ(word.find(' '), std::string::npos);
    EXPECT_TRUE(source.empty() || source[0] != ' ');
  }
}

TEST(ReqLib32, StrToIntRefusesWhatDoesNotFit32Bits) {
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_THROW(StrToInt("2147483648"), std::out_of_range);
  EXPECT_THROW(StrToInt("99999999999999999999999"), std::out_of_range);
  EXPECT_THROW(StrToInt(""), std::invalid_argument);
  EXPECT_THROW(StrToInt("-"), std::invalid_argument);
  EXPECT_THROW(StrToInt("1x"), std::invalid_argument);
}

TEST(L2CRC, CheckValueResidueAndTable) {
  const TCRC crc;
  EXPECT_EQ(crc.ComputeCRC("123456789"), 0x6F91);
  EXPECT_EQ(crc.ComputeCRC(""), 0xFFFF);
  const std::string datagram = crc.AppendFCS("123456789");
  ASSERT_EQ(datagram.size(), 11u);
  EXPECT_EQ(static_cast<uint8_t>(datagram[9]), 0x6E);
  EXPECT_EQ(static_cast<uint8_t>(datagram[10]), 0x90);
  EXPECT_EQ(crc.ComputeCRC(datagram), TCRC::kResidue);
  EXPECT_EQ(crc.AppendFCS(""), std::string(2, '\0'));
  EXPECT_TRUE(crc.IsValid(std::string(2, '\0')));
}

TEST(L2CRC, EveryWrongFormFailsTheCheck) {
  const TCRC crc;
  const std::string frame = "\x96\x70\x9A\x9A\x9E\x40\x60\x88\x8E\x62\x82\x84\x86\x61\x03\xF0hello";
  const std::string good = crc.AppendFCS(frame);
  ASSERT_TRUE(crc.IsValid(good));
  for (size_t byte = 0; byte < good.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string bad = good;
      bad[byte] = static_cast<char>(bad[byte] ^ (1 << bit));
      EXPECT_FALSE(crc.IsValid(bad)) << byte << ":" << bit;
    }
  }
  std::string swapped = good;
  std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
  EXPECT_FALSE(crc.IsValid(swapped));
  const uint16_t raw = crc.ComputeCRC(frame);
  std::string uncomplemented = frame + static_cast<char>(raw & 0xFF) + static_cast<char>(raw >> 8);
  EXPECT_EQ(crc.ComputeCRC(uncomplemented), 0x0000);
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(crc.IsValid(std::string(1, static_cast<char>(b))));
}

}  // namespace
}  // namespace ovlar
