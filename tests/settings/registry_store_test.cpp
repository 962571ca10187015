// The settings file in registry export text, and the import of the shipped defaults.
#include "settings/registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "settings/defaults_import.h"
#include "settings/settings.h"
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

TEST(RegistryStore, SaveThenLoadGivesBackEveryTypeByteForByteInRegistryExportText) {
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
  store.setString(kKey, "Control", std::string("a\tb\r\nc\0d\x7f\xff\x80", 12));
  store.setRaw("Other\\Key", "MultiString", static_cast<ValueType>(7), std::string("a\0b\0", 4));
  ASSERT_EQ(store.save(), 0);
  RegistryStore again(store.file());
  ASSERT_TRUE(again.load());
  EXPECT_EQ(again.keys(), store.keys());
  EXPECT_EQ(again.getDword("software\\TALVEK\\talvek ftp\\settings", "enablelog"), 30u);  // ASCII case ignored
  EXPECT_FALSE(again.setString(kKey, "line\nbreak", "x"));
}

TEST(RegistryStore, MalformedLinesAreSkippedAndUnknownValuesWrittenBack) {
  TempDir dir;
  dir.write("settings.reg",
            "garbage before\n\"Outside\"=dword:00000001\n\n"
            "[HKEY_CURRENT_USER\\K]\n"
            "@=\"default\"\n"
            "\"Expand\"=hex(2):25,00\n"
            "\"ShortDword\"=dword:1e\n"
            "\"BadDword\"=dword:0000001g\n"
            "\"Open\"=\"no end\n"
            "\"Odd\"=hex:0,01\n"
            "\"NoEquals\" \"x\"\n"
            "\"Unfinished\"=hex:01,\\\n"
            "\n"
            "[HKEY_CURRENT_USER\\L]\n" +
                std::string(200000, 'q') + "\n" + std::string("\0\xff\x01[\"=\\", 7) + "\n"
                "\"AlsoGood\"=\"yes\"\r\n");
  RegistryStore store(dir.path() / "settings.reg");
  ASSERT_TRUE(store.load());
  EXPECT_EQ(store.getString("K", ""), "default");
  EXPECT_EQ(store.getString("L", "AlsoGood"), "yes");
  ASSERT_EQ(store.save(), 0);
  EXPECT_EQ(ReadFile(store.file()),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n@=\"default\"\n\"Expand\"=hex(2):25,00\n\n"
            "[HKEY_CURRENT_USER\\L]\n\"AlsoGood\"=\"yes\"\n\n");
}

TEST(RegistryStore, UnreadableFileKeepsTheContentsAndAFailedSaveKeepsTheFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.reg");
  RegistryStore folder(dir.path() / "folder.reg");
  folder.setDword(kKey, "Kept", 1);
  EXPECT_FALSE(folder.load());
  EXPECT_EQ(folder.getDword(kKey, "Kept"), 1u);
  EXPECT_EQ(folder.save(), EISDIR);
  RegistryStore absent(dir.path() / "absent.reg");
  absent.setDword(kKey, "Gone", 1);
  EXPECT_TRUE(absent.load());
  EXPECT_TRUE(absent.keys().empty());

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
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary file
}

TEST(RegistryStore, SavingChangesOverTheDiskKeepsWhatAnotherWriterChanged) {
  TempDir dir;
  RegistryStore start(dir.path() / "settings.reg");
  GeneralSettings general;
  general.timeoutMinutes = 60;
  WriteBlock(start, general);
  start.setString(kKey, "LogPath", "/old.log");
  ASSERT_EQ(start.save(), 0);
  const RegistryStore base = NormalisedCopy(start);
  // Another writer changes one field of the block and a text meanwhile.
  RegistryStore other(start.file());
  ASSERT_TRUE(other.load());
  general.timeoutMinutes = 7;
  WriteBlock(other, general);
  other.setString(kKey, "LogPath", "/new.log");
  ASSERT_EQ(other.save(), 0);
  // This program changed another field of the same block, and nothing else.
  Settings mine_settings;
  LoadSettings(start, mine_settings);
  mine_settings.general.autoStart = 1;
  RegistryStore mine = base;
  SaveSettings(mine, mine_settings);
  ASSERT_EQ(SaveChangesOverDisk(base, mine), 0);
  RegistryStore disk(start.file());
  ASSERT_TRUE(disk.load());
  auto merged = ReadBlock<GeneralSettings>(disk);
  EXPECT_EQ(merged->timeoutMinutes, 7u);
  EXPECT_EQ(merged->autoStart, 1u);
  EXPECT_EQ(disk.getString(kKey, "LogPath"), "/new.log");
}

struct Imported {
  ImportResult result;
  RegistryStore store{"unused"};
};

Imported Import(const std::string& text) {
  TempDir dir;
  dir.write("defaults.reg", text);
  Imported imported;
  imported.result = ImportDefaults(dir.path() / "defaults.reg", imported.store);
  return imported;
}

// Each text, and the values it leaves, as "key/name=value" (binary in hex).
TEST(DefaultsImportTest, LinesOfTheExportFormat) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Name\"=\"text\"\n\"Count\"=dword:0000001e\n\n",
       {"Software\\Test/Name=text", "Software\\Test/Count=30"}},
      {"[HKEY_CURRENT_USER\\K]\n\"Bytes\"=hex:01,02,\\\n  03,04,\\\n  05\n\"After\"=\"x\"\n\n",
       {"K/Bytes=0102030405", "K/After=x"}},
      {"[HKEY_LOCAL_MACHINE\\Software\\Machine]\n\"V\"=dword:00000001\n\n", {"Software\\Machine/V=1"}},
      {"[HKEY_CURRENT_USER\\K]\n\"Dir\"=\"C:\\\\ftp\\\\\"\n\n", {"K/Dir=C:\\\\ftp\\\\"}},
      {"[HKEY_CURRENT_USER\\A]\n\"Bytes\"=hex:0a,\\\n  0b\n\n[HKEY_CURRENT_USER\\B]\n\"Next\"=dword:00000002\n\n",
       {"A/Bytes=0a0b", "B/Next=2"}},
      {"[HKEY_CURRENT_USER\\K]\n\"One\"=hex:01,02\n\"Zero\"=hex(0):ff\n", {"K/One=0102", "K/Zero=ff"}},
      {"\"Loose\"=dword:00000001\n[HKEY_CURRENT_USER\\First]\n[HKEY_CURRENT_USER\\Second]\n"
       "\"V\"=dword:00000004\r\n\r\n\"Loose2\"=\"x\"\n",
       {"First/V=4"}},
  };
  for (const auto& [text, expected] : cases) {
    Imported i = Import(text);
    std::vector<std::string> values;
    for (const RegistryKey& key : i.store.keys())
      for (const RegistryValue& value : key.values) {
        std::string shown = value.data;
        if (value.type == ValueType::Dword) shown = std::to_string(*i.store.getDword(key.path, value.name));
        if (value.type == ValueType::Binary) {
          shown.clear();
          for (unsigned char byte : value.data) shown += "0123456789abcdef"[byte >> 4], shown += "0123456789abcdef"[byte & 15];
        }
        values.push_back(key.path + "/" + value.name + "=" + shown);
      }
    EXPECT_EQ(values, expected) << text;
    EXPECT_EQ(i.result.valuesImported, static_cast<int>(expected.size()));
  }
}

TEST(DefaultsImportTest, MalformedLinesAreSkippedWithoutHarm) {
  std::string garbage;
  for (int i = 0; i < 512; ++i) garbage += static_cast<char>(i % 256);
  Imported i = Import("[HKEY_CURRENT_USER\\K]\n\"Odd\"=hex:0,1,2\n\"BadHex\"=hex:0g\n\"NoColon\"=hex\n"
                      "\"Short\"=dword:1e\n\"BadDword\"=dword:xxxxxxxx\n\"Name\" \"missing equals\"\n"
                      "\"=\"\n\"Open\"=\"\n" + std::string(300000, '"') + "=\"huge\n" +
                      "\"Chain\"=hex:01,\\\n" + std::string(300000, '0') + "\n\"Good\"=dword:00000009\n\n" +
                      "[HKEY_CURRENT_USER\\G]\n" + garbage + "\n\"AlsoGood\"=\"y\"\n\n[no backslash]\n\"Lost\"=\"z\"\n");
  EXPECT_EQ(i.result.valuesImported, 2);
  EXPECT_EQ(i.store.keys().at(0).values.size(), 1u);
  EXPECT_EQ(i.store.getDword("K", "Good"), 9u);
  EXPECT_FALSE(i.store.contains("K", "Chain"));
  EXPECT_EQ(i.store.getString("G", "AlsoGood"), "y");
}

}  // namespace
}  // namespace talvek::settings
