#include "settings/registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "support/test_support.h"

namespace talvek::settings {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr std::string_view kKey = "Software\\Talvek\\Talvek FTP\\Settings";

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

RegistryStore Reloaded(const RegistryStore& store) {
  RegistryStore again(store.file());
  EXPECT_TRUE(again.load());
  return again;
}

TEST(RegistryStoreTest, SaveThenLoadGivesBackEveryTypeByteForByte) {
  TempDir dir;
  RegistryStore store(dir.path() / "settings.reg");
  store.setString(kKey, "Backslashes", "C:\\dir\\\\sub\\");
  store.setString(kKey, "Quotes", "say \"hi\" \\\"");
  store.setString(kKey, "NonAscii", "Gr\xc3\xbc\xc3\x9f" "e \xff\x80");
  store.setString(kKey, "Control", std::string("a\tb\r\nc\0d\x7f", 10));
  store.setString(kKey, "Empty", "");
  store.setString(kKey, "Long", std::string(5000, 'x'));
  store.setDword(kKey, "Zero", 0);
  store.setDword(kKey, "Max", 0xffffffffu);
  store.setBinary(kKey, "NoBytes", {});
  store.setBinary(kKey, "Big", Pattern(100000));
  store.setBinary(kKey, "Untyped", Pattern(48), ValueType::None);
  store.setRaw("Other\\Key", "MultiString", static_cast<ValueType>(7), std::string("a\0b\0", 4));
  store.createKey("Empty\\Key");
  ASSERT_EQ(store.save(), 0);

  RegistryStore again = Reloaded(store);
  EXPECT_EQ(again.keys(), store.keys());
  EXPECT_EQ(again.getString(kKey, "Control"), std::string("a\tb\r\nc\0d\x7f", 10));
  EXPECT_EQ(again.getBinary(kKey, "Big"), Pattern(100000));
  std::string firstText = ReadFile(store.file());
  ASSERT_EQ(again.save(), 0);
  EXPECT_EQ(ReadFile(store.file()), firstText);
}

TEST(RegistryStoreTest, FileIsRegistryExportTextWithWrappedHexLines) {
  TempDir dir;
  RegistryStore store(dir.path() / "settings.reg");
  store.setString(kKey, "FTPRootDir", "C:\\ftp\\ \"x\"");
  store.setDword(kKey, "EnableLog", 30);
  store.setBinary(kKey, "Three", {1, 2, 0xff});
  store.setBinary(kKey, "Zero", {0xab}, ValueType::None);
  store.setString(kKey, "Ctl", "a\n");
  store.setBinary("K", "Wide", Pattern(30));
  ASSERT_EQ(store.save(), 0);
  EXPECT_EQ(ReadFile(store.file()),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\Settings]\n"
            "\"FTPRootDir\"=\"C:\\\\ftp\\\\ \\\"x\\\"\"\n"
            "\"EnableLog\"=dword:0000001e\n"
            "\"Three\"=hex:01,02,ff\n"
            "\"Zero\"=hex(0):ab\n"
            "\"Ctl\"=hex(1):61,0a\n"
            "\n"
            "[HKEY_CURRENT_USER\\K]\n"
            "\"Wide\"=hex:03,0a,11,18,1f,26,2d,34,3b,42,49,50,57,5e,65,6c,73,7a,81,88,8f,96,\\\n"
            "  9d,a4,ab,b2,b9,c0,c7,ce\n"
            "\n");
  struct stat info {};
  ASSERT_EQ(::stat(store.file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(RegistryStoreTest, KeysAndNamesCompareIgnoringAsciiCase) {
  RegistryStore store("unused");
  store.setDword("Software\\Talvek", "Port", 1);
  store.setDword("Software\\Talvek", "Other", 2);
  store.setDword("SOFTWARE\\talvek", "PORT", 3);
  EXPECT_EQ(store.getDword("software\\TALVEK", "port"), 3u);
  ASSERT_EQ(store.keys().size(), 1u);
  ASSERT_EQ(store.keys()[0].values.size(), 2u);
  // Replacing keeps the first spelling and the position.
  EXPECT_EQ(store.keys()[0].values[0].name, "Port");
  EXPECT_FALSE(store.contains("Software\\Talvek", "Pört"));
}

TEST(RegistryStoreTest, GettersAnswerOnlyForTheirTypes) {
  RegistryStore store("unused");
  store.setDword(kKey, "D", 5);
  store.setString(kKey, "S", "5");
  store.setBinary(kKey, "B3", {5});
  store.setBinary(kKey, "B0", {6}, ValueType::None);
  EXPECT_EQ(store.getString(kKey, "D"), std::nullopt);
  EXPECT_EQ(store.getDword(kKey, "S"), std::nullopt);
  EXPECT_EQ(store.getDword(kKey, "B3"), std::nullopt);
  EXPECT_EQ(store.getBinary(kKey, "S"), std::nullopt);
  EXPECT_EQ(store.getBinary(kKey, "B3"), std::vector<uint8_t>{5});
  EXPECT_EQ(store.getBinary(kKey, "B0"), std::vector<uint8_t>{6});
}

TEST(RegistryStoreTest, SettersRefuseNamesThatCannotBeWrittenAndChangeNothing) {
  RegistryStore store("unused");
  EXPECT_FALSE(store.setString(kKey, "line\nbreak", "x"));
  EXPECT_FALSE(store.setDword("bad\rkey", "n", 1));
  EXPECT_FALSE(store.setString(kKey, std::string(kMaxNameLength + 1, 'n'), "x"));
  EXPECT_TRUE(store.keys().empty());
}

TEST(RegistryStoreTest, UnknownKeysValuesAndTypesAreWrittenBackUnchanged) {
  TempDir dir;
  const std::string text =
      "REGEDIT4\n\n"
      "[HKEY_CURRENT_USER\\Software\\Elsewhere]\n"
      "@=\"default\"\n"
      "\"Expand\"=hex(2):25,00\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\Settings]\n"
      "\"WndRect\"=hex:00,00,00,00,10,00,00,00,20,00,00,00,30,00,00,00\n"
      "\"Future\"=dword:00000007\n"
      "\n";
  dir.write("settings.reg", text);
  RegistryStore store(dir.path() / "settings.reg");
  ASSERT_TRUE(store.load());
  EXPECT_EQ(store.getString("Software\\Elsewhere", ""), "default");
  store.setDword(kKey, "Future", 8);
  ASSERT_EQ(store.save(), 0);
  std::string expected = text;
  expected.replace(expected.find("00000007"), 8, "00000008");
  EXPECT_EQ(dir.read("settings.reg"), expected);
}

TEST(RegistryStoreTest, MalformedLinesAreSkippedAndTheRestIsRead) {
  TempDir dir;
  dir.write("settings.reg",
            "garbage before\n\"Outside\"=dword:00000001\n\n"
            "[HKEY_CURRENT_USER\\K]\n"
            "\"Good\"=dword:0000000a\n"
            "\"ShortDword\"=dword:1e\n"
            "\"BadDword\"=dword:0000001g\n"
            "\"Open\"=\"no end\n"
            "\"Odd\"=hex:0,01\n"
            "\"BadHex\"=hex:zz\n"
            "\"NoEquals\" \"x\"\n"
            "\"Unfinished\"=hex:01,\\\n"
            "\n"
            "[HKEY_CURRENT_USER\\L]\n" +
                std::string(200000, 'q') + "\n" + std::string("\0\xff\x01[\"=\\", 7) + "\n"
                "\"AlsoGood\"=\"yes\"\r\n");
  RegistryStore store(dir.path() / "settings.reg");
  ASSERT_TRUE(store.load());
  ASSERT_EQ(store.keys().size(), 2u);
  ASSERT_EQ(store.keys()[0].values.size(), 1u);
  EXPECT_EQ(store.getDword("K", "Good"), 10u);
  EXPECT_EQ(store.getString("L", "AlsoGood"), "yes");
  EXPECT_FALSE(store.contains("", "Outside"));
}

TEST(RegistryStoreTest, MissingFileLoadsEmptyAndUnreadableFileFailsKeepingContents) {
  TempDir dir;
  RegistryStore store(dir.path() / "absent.reg");
  store.setDword(kKey, "Kept", 1);
  EXPECT_TRUE(store.load());
  EXPECT_TRUE(store.keys().empty());

  std::filesystem::create_directory(dir.path() / "folder.reg");
  RegistryStore folder(dir.path() / "folder.reg");
  folder.setDword(kKey, "Kept", 1);
  EXPECT_FALSE(folder.load());
  EXPECT_EQ(folder.getDword(kKey, "Kept"), 1u);
}

TEST(RegistryStoreTest, SaveReplacesTheOldFileWhole) {
  TempDir dir;
  dir.write("settings.reg", std::string(10000, '#'));
  RegistryStore store(dir.path() / "settings.reg");
  store.setDword("K", "N", 1);
  ASSERT_EQ(store.save(), 0);
  EXPECT_EQ(dir.read("settings.reg"), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"N\"=dword:00000001\n\n");
}

TEST(RegistryStoreTest, FailedSaveReturnsErrnoAndLeavesTheOldFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "isdir.reg");
  RegistryStore onDirectory(dir.path() / "isdir.reg");
  onDirectory.setDword("K", "N", 1);
  EXPECT_EQ(onDirectory.save(), EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "isdir.reg"));

  // A file size limit makes the write itself fail, even for root.
  dir.write("settings.reg", "old content\n");
  RegistryStore store(dir.path() / "settings.reg");
  store.setBinary("K", "Big", Pattern(4096));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int error = store.save();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(dir.read("settings.reg"), "old content\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
}  // namespace talvek::settings
