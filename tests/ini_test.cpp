#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/IniFile.h"

namespace ovlar {
namespace {

TEST(IniFile, NamesIgnoreCaseAndTheFirstKeyWins) {
  const IniFile ini = IniFile::FromText("[Ovlar]\r\nmode = 1 \r\nMODE=2\r\n[AGW]\r\nPort=8001\r\n");
  EXPECT_EQ(ini.ReadString("OVLAR", "MODE", "x"), "1");
  EXPECT_EQ(ini.ReadString("agw", "PORT", "x"), "8001");
  EXPECT_EQ(ini.ReadString("AGW", "ADDRESS", "127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ini.ReadString("NONE", "MODE", "d"), "d");
}

TEST(IniFile, CommentsQuotesBlanksAndLineEnds) {
  const IniFile ini = IniFile::FromText(
      "; comment\n[A]\n;KEY=commented\nKEY=\"quoted value\"\n  spaced  =  a b  \nnoequals\nlast=x");
  EXPECT_EQ(ini.ReadString("A", "KEY", "d"), "quoted value");
  EXPECT_EQ(ini.ReadString("A", "spaced", "d"), "a b");
  EXPECT_EQ(ini.ReadString("A", "last", "d"), "x");
  EXPECT_EQ(ini.ReadString("A", "noequals", "d"), "d");
}

TEST(IniFile, SectionListsKeepFileOrderAndFirstValues) {
  const IniFile ini = IniFile::FromText("[ROUTES]\nB=2\nA=1\nEMPTY=\nb=3\n[X]\nC=1\n[routes]\nD=4\nA=9\n");
  const std::vector<std::string> expected{"B=2", "A=1", "D=4"};
  EXPECT_EQ(ini.ReadSectionValues("Routes"), expected);
  EXPECT_TRUE(ini.ReadSectionValues("MISSING").empty());
}

TEST(IniFile, LongValuesAreCut) {
  const std::string big(70000, 'v');
  const IniFile ini = IniFile::FromText("[A]\nK=" + big + "\nL=" + std::string(2047, 'w') + "\n");
  EXPECT_EQ(ini.ReadString("A", "K", ""), std::string(IniFile::kMaxValue, 'v'));
  EXPECT_EQ(ini.ReadString("A", "L", "").size(), 2047u);
  EXPECT_EQ(ini.ReadSectionValues("A")[0].size(), 2u + IniFile::kMaxValue);
}

TEST(IniFile, BinaryJunkNeitherCrashesNorLeaksIntoValues) {
  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  const std::string text = junk + "\n[A]\nK=ab\0cd\n" + junk + "\n[A\n=v\n[]\nK2=2";
  const IniFile ini = IniFile::FromText(std::string(text.data(), text.size()));
  EXPECT_EQ(ini.ReadString("A", "K", "d"), "ab");
  (void)ini.ReadSectionValues("A");
}

// Only a mark that opens the file is skipped; elsewhere it is text.
TEST(IniFile, AByteOrderMarkAtTheStartIsSkipped) {
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    std::string text;
    std::string trace;
  };
  const Case cases[] = {
      {bom + "[OVLAR]\r\nTRACE=1\r\n", "1"},
      {bom + "; comment\n[OVLAR]\nTRACE=2", "2"},
      {"[OVLAR]\nTRACE=3\n" + bom + "[AGW]\nPORT=1", "3"},
      {"[OVLAR]\n" + bom + "TRACE=4", "d"},
      {bom + bom + "[OVLAR]\nTRACE=5", "d"},
      {bom, "d"},
      {"\xEF\xBB[OVLAR]\nTRACE=6", "d"},
  };
  for (const Case& c : cases) EXPECT_EQ(IniFile::FromText(c.text).ReadString("OVLAR", "TRACE", "d"), c.trace) << c.text;
}

TEST(IniFile, MissingFileGivesDefaults) {
  test::ScratchDir dir;
  const IniFile ini(WorkingDirectoryFile("OVLAR.INI"));
  EXPECT_EQ(ini.ReadString("OVLAR", "MODE", "2"), "2");
  EXPECT_EQ(WorkingDirectoryFile("OVLAR.INI"), dir.Path() + "/OVLAR.INI");
}

}  // namespace
}  // namespace ovlar
