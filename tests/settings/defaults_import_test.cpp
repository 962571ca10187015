#include "settings/defaults_import.h"

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "support/test_support.h"

namespace talvek::settings {
namespace {

using test::TempDir;

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

// The shipped file itself is imported by the daemon tests, through the binary.
TEST(FirstStartImportTest, RunsOnceWhileNewInstallIsMissingWithOrWithoutTheFile) {
  for (bool shipped : {true, false}) {
    TempDir dir;
    if (shipped)
      dir.write("defaults.reg", "[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\Settings]\n"
                                "\"EnableLog\"=dword:00000001\n");
    RegistryStore store(dir.path() / "settings.reg");
    EXPECT_TRUE(RunFirstStartImport(store, dir.path()));
    RegistryStore onDisk(store.file());
    ASSERT_TRUE(onDisk.load());
    EXPECT_EQ(onDisk.getDword(kSettingsKey, "EnableLog"), shipped ? std::optional<uint32_t>(1) : std::nullopt);
    EXPECT_EQ(ReadNewInstall(onDisk), 0u);
    EXPECT_FALSE(RunFirstStartImport(onDisk, dir.path()));
  }
}

}  // namespace
}  // namespace talvek::settings
