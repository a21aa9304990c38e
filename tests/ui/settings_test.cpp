#include "ui/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/fixtures.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void WriteText(const std::string& fileName, const std::string& bytes) {
  std::ofstream out(fileName, std::ios::binary);
  out << bytes;
}

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) bytes.push_back('\0');
    bytes.push_back(c);
    if (!bigEndian) bytes.push_back('\0');
  }
  return bytes;
}

SetupValues LoadFrom(const std::string& fileName) {
  TSetup setup;
  setup.Create(fileName);
  SetupValues values = setup.Load();
  setup.Free();
  return values;
}

void ExpectValues(const SetupValues& expected, const SetupValues& actual) {
  EXPECT_EQ(expected.WindowPosX, actual.WindowPosX);
  EXPECT_EQ(expected.WindowPosY, actual.WindowPosY);
  EXPECT_EQ(expected.CheckForUpdates, actual.CheckForUpdates);
  EXPECT_EQ(expected.SyncOutputs, actual.SyncOutputs);
}

struct ReadCase {
  const char* Name;
  std::string Content;
  SetupValues Expected;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.Name; }

class SettingsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SettingsRead, GivesTheExpectedValues) {
  TempDir dir;
  const std::string file = dir.File("trelvi.ini");
  WriteText(file, GetParam().Content);
  ExpectValues(GetParam().Expected, LoadFrom(file));
}

const ReadCase kReadCases[] = {
    {"AsWritten",
     "WindowPosX=12\r\nWindowPosY=34\r\nCheckForUpdates=True\r\nSyncOutputs="
     "False\r\n",
     {12, 34, true}},
    {"OnlyCheckLineLowerCaseWithBlanks",
     "checkforupdates = true\r\n",
     {0, 0, true}},
    {"EmptyFileKeepsDesignedState", "", {0, 0, false}},
    {"SyncOutputsTicked",
     "SyncOutputs=True\r\nCheckForUpdates=True",
     {0, 0, true, true}},
    {"SyncOutputsOnlyTrueTicks", "syncoutputs=1", {0, 0, false, false}},
    {"LettersGiveZero", "WINDOWPOSX=abc\r\nWindowPosY=7", {0, 7, false}},
    {"LeadingBlankAccepted", "WindowPosX= 250", {250, 0, false}},
    {"LeadingTabAccepted", "WindowPosX=\t250", {250, 0, false}},
    {"TrailingBlankGivesZero", "WindowPosX=250 ", {0, 0, false}},
    {"EmptyValueGivesZero", "WindowPosX=\r\nWindowPosY=5", {0, 5, false}},
    {"NoEqualsSign",
     "WindowPosX\r\nWindowPosY 9\r\nCheckForUpdates",
     {0, 0, false}},
    {"ValueAfterFirstEquals", "WindowPosX=1=2\r\nWindowPosY==3", {0, 0, false}},
    {"OneIsNotTrue", "CheckForUpdates=1", {0, 0, false}},
    {"YesIsNotTrue", "CheckForUpdates=yes", {0, 0, false}},
    {"TrueWithTailIsNotTrue", "CheckForUpdates=TRUEX", {0, 0, false}},
    {"BoolTrimmedBothEnds", "CheckForUpdates=\t TrUe \t", {0, 0, true}},
    {"LastOneWins",
     "WindowPosX=10\r\nCheckForUpdates=True\r\nWindowPosX=20\r\n"
     "CheckForUpdates=False",
     {20, 0, false}},
    {"LaterUnparsableStillWins",
     "WindowPosX=10\r\nWindowPosX=oops",
     {0, 0, false}},
    {"KeyIsAPrefixMatch",
     "WindowPosXtra=7\r\nCHECKFORUPDATESNOW=true",
     {7, 0, true}},
    {"BlankBeforeKeyIgnored",
     " WindowPosX=7\r\n\tCheckForUpdates=True",
     {0, 0, false}},
    {"BlankBeforeEqualsStillMatches", "WindowPosX =7", {7, 0, false}},
    {"Negative", "WindowPosX=-120\r\nWindowPosY=+5", {-120, 5, false}},
    {"SignWithoutDigits", "WindowPosX=-\r\nWindowPosY=+", {0, 0, false}},
    {"HexDollar", "WindowPosX=$1F\r\nWindowPosY=-$10", {31, -16, false}},
    {"HexZeroX", "WindowPosX=0x10\r\nWindowPosY=0X1f", {16, 31, false}},
    {"HexPrefixAlone", "WindowPosX=$\r\nWindowPosY=0x", {0, 0, false}},
    {"HexDigitsNeedPrefix", "WindowPosX=1F", {0, 0, false}},
    {"Int32Limits",
     "WindowPosX=2147483647\r\nWindowPosY=-2147483648",
     {2147483647, -2147483647 - 1, false}},
    {"OutOfRangeGivesZero",
     "WindowPosX=2147483648\r\nWindowPosY=99999999999999999999",
     {0, 0, false}},
    {"ExtraLinesIgnored",
     "[Main]\r\n; comment\r\nColour=red\r\nWindowPosY=33\r\n",
     {0, 33, false}},
    {"LfEndings",
     "WindowPosX=1\nWindowPosY=2\nCheckForUpdates=True\n",
     {1, 2, true}},
    {"CrEndings",
     "WindowPosX=1\rWindowPosY=2\rCheckForUpdates=True",
     {1, 2, true}},
    {"MixedEndingsAndBlankLines",
     "WindowPosX=1\r\n\r\n\rWindowPosY=2\n",
     {1, 2, false}},
    {"Utf8ByteOrderMark",
     "\xEF\xBB\xBFWindowPosX=5\r\nCheckForUpdates=True",
     {5, 0, true}},
    {"Utf16LittleEndian",
     Utf16("WindowPosX=5\r\nWindowPosY=-6\r\nCheckForUpdates="
           "True\r\nSyncOutputs=False\r\n",
           false),
     {5, -6, true}},
    {"Utf16BigEndian",
     Utf16("WindowPosX=5\r\nWindowPosY=-6\r\nCheckForUpdates="
           "True\r\nSyncOutputs=False\r\n",
           true),
     {5, -6, true}},
    {"Utf16NonAsciiDoesNotMatch",
     Utf16("WindowPosX=5", false) + std::string("\xE9\x00", 2),
     {0, 0, false}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return info.param.Name; });

TEST(SettingsLoad, MissingFileGivesFirstRunValues) {
  TempDir dir;
  ExpectValues(kFirstRunSetup, LoadFrom(dir.File("none.ini")));
  EXPECT_EQ(400, kFirstRunSetup.WindowPosX);
  EXPECT_EQ(100, kFirstRunSetup.WindowPosY);
  EXPECT_TRUE(kFirstRunSetup.CheckForUpdates);
}

TEST(SettingsLoad, UnreadableFileGivesFirstRunValues) {
  TempDir dir;
  // A folder where the file should be cannot be read as a file, whoever runs
  // the test.
  fs::create_directory(dir.File("folder.ini"));
  ExpectValues(kFirstRunSetup, LoadFrom(dir.File("folder.ini")));
}

TEST(SettingsLoad, OversizedFileGivesFirstRunValues) {
  TempDir dir;
  const std::string file = dir.File("huge.ini");
  WriteText(file, "WindowPosX=5\r\n" + std::string(2 << 20, 'x'));
  ExpectValues(kFirstRunSetup, LoadFrom(file));
}

TEST(SettingsSave, FirstRunWritesThreeCrLfLines) {
  TempDir dir;
  const std::string file = dir.File("trelvi.ini");
  TSetup setup;
  setup.Create(file);
  const SetupValues values = setup.Load();
  EXPECT_TRUE(setup.Save(values));
  setup.Free();
  EXPECT_EQ(
      "WindowPosX=400\r\nWindowPosY=100\r\nCheckForUpdates=True\r\nSyncOutputs="
      "False\r\n",
      ReadText(file));
}

TEST(SettingsSave, ReplacesOldFileAndDropsItsExtraLines) {
  TempDir dir;
  const std::string file = dir.File("trelvi.ini");
  WriteText(file, Utf16("[Main]\r\nWindowPosX=5\r\nTheme=dark\r\n", false));
  TSetup setup;
  setup.Create(file);
  setup.Load();
  EXPECT_TRUE(setup.Save({-30, 0, false}));
  EXPECT_EQ(
      "WindowPosX=-30\r\nWindowPosY=0\r\nCheckForUpdates=False\r\nSyncOutputs="
      "False\r\n",
      ReadText(file));
  ExpectValues({-30, 0, false}, LoadFrom(file));
}

TEST(SettingsSave, CreatesMissingConfigurationFolder) {
  TempDir dir;
  const std::string file = (dir.Path() / "config" / "app" / "t.ini").string();
  TSetup setup;
  setup.Create(file);
  EXPECT_TRUE(setup.Save({1, 2, true}));
  ExpectValues({1, 2, true}, LoadFrom(file));
}

TEST(SettingsSave, FailureIsReportedWithoutHarm) {
  TempDir dir;
  WriteText(dir.File("plain"), "x");
  const std::string cannotWrite[] = {
      dir.Dir(),                                // a folder, not a file
      dir.File("plain") + "/under-a-file.ini",  // parent is a file
  };
  for (const std::string& file : cannotWrite) {
    TSetup setup;
    setup.Create(file);
    EXPECT_FALSE(setup.Save(kFirstRunSetup)) << file;
  }
  EXPECT_EQ("x", ReadText(dir.File("plain")));
}

TEST(SettingsLocation, ExtensionReplacedOrAdded) {
  EXPECT_EQ("/opt/t/trelvi-gui.ini",
            SettingsFileBesideProgram("/opt/t/trelvi-gui"));
  EXPECT_EQ("/opt/t/Trelvi.ini",
            SettingsFileBesideProgram("/opt/t/Trelvi.exe"));
  EXPECT_EQ("/opt/t.d/trelvi.ini",
            SettingsFileBesideProgram("/opt/t.d/trelvi"));
}

TEST(SettingsLocation, BesideProgramWhenFolderWritable) {
  TempDir program, config;
  EXPECT_EQ(program.File("trelvi.ini"),
            ChooseSettingsFile(program.File("trelvi"), config.Path().string()));
  // The probe leaves nothing behind.
  EXPECT_TRUE(fs::is_empty(program.Path()));
}

TEST(SettingsLocation, ConfigFolderWhenProgramFolderUnusable) {
  TempDir config;
  const std::string missing = config.File("no-such-folder/trelvi");
  EXPECT_EQ(config.File("trelvi.ini"),
            ChooseSettingsFile(missing, config.Path().string()));
  // Without a configuration folder there is nowhere else to go.
  EXPECT_EQ(config.File("no-such-folder/trelvi.ini"),
            ChooseSettingsFile(missing, ""));
}

TEST(SettingsLocation, ReadOnlyProgramFolder) {
  TempDir program, config;
  fs::permissions(program.Path(), fs::perms::owner_read | fs::perms::owner_exec,
                  fs::perm_options::replace);
  const bool writable = FolderIsWritable(program.Path().string());
  std::string chosen =
      ChooseSettingsFile(program.File("trelvi"), config.Path().string());
  // An existing file beside the program is used even there.
  fs::permissions(program.Path(), fs::perms::owner_all,
                  fs::perm_options::replace);
  WriteText(program.File("trelvi.ini"), "WindowPosX=1");
  fs::permissions(program.Path(), fs::perms::owner_read | fs::perms::owner_exec,
                  fs::perm_options::replace);
  std::string chosenExisting =
      ChooseSettingsFile(program.File("trelvi"), config.Path().string());
  fs::permissions(program.Path(), fs::perms::owner_all,
                  fs::perm_options::replace);
  EXPECT_EQ(program.File("trelvi.ini"), chosenExisting);
  if (writable) GTEST_SKIP() << "permissions do not bind this user";
  EXPECT_EQ(config.File("trelvi.ini"), chosen);
}

TEST(SettingsLocation, FolderIsWritable) {
  TempDir dir;
  EXPECT_TRUE(FolderIsWritable(dir.Path().string()));
  EXPECT_FALSE(FolderIsWritable(dir.File("missing")));
  WriteText(dir.File("file"), "");
  EXPECT_FALSE(FolderIsWritable(dir.File("file")));
}

}  // namespace
}  // namespace trelvi
