#include <string>

#include "outside/outside.h"
#include "updater_test.h"

namespace {

class WorkPathsTest : public UpdaterTest {
 protected:
  platform::File folder;  // the work folder, as the run holds it
};

struct PrepareCase {
  const char* name;
  std::string modulePath;
  std::string tempDir;
  long tempAnswer;  // -1: the fake answers from tempDir
  bool dirExists;
  bool failCreate;
  unsigned createError;
  int expectAnswer;
  const char* expectWorkDir;     // "" when no location was usable
  std::string expectHostExe;
  int expectBoxCode;             // -1: no box
  bool expectInstallerRemoved;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST_F(WorkPathsTest, PreparesOrReports) {
  const std::string longTemp = "C:\\" + Repeat('t', 240) + "\\";  // + "kelvaport\" still fits, + part name does not
  const std::string longModule = "C:\\" + Repeat('m', 240) + "\\Updater.exe";  // own dir fits, + temp\ + part does not
  const std::string fullModule = "C:\\" + Repeat('x', 300) + "\\Updater.exe";  // does not fit the buffer at all
  const PrepareCase cases[] = {
      {"first run", "C:\\App\\Updater.exe", "C:\\Temp\\", -1, false, false, 0, 1, "C:\\Temp\\kelvaport\\",
       "C:\\App\\Orvessa.exe", -1, false},
      {"second run cleans", "C:\\App\\Updater.exe", "C:\\Temp\\", -1, true, false, 0, 1, "C:\\Temp\\kelvaport\\",
       "C:\\App\\Orvessa.exe", -1, true},
      {"access denied", "C:\\App\\Updater.exe", "C:\\Temp\\", -1, false, true, 5, 0, "C:\\Temp\\kelvaport\\",
       "C:\\App\\Orvessa.exe", 5, false},
      {"path not found", "C:\\App\\Updater.exe", "C:\\Temp\\", -1, false, true, 3, 0, "C:\\Temp\\kelvaport\\",
       "C:\\App\\Orvessa.exe", 3, false},
      {"no temp dir", "C:\\App\\Updater.exe", "", 0, false, false, 0, 1, "C:\\App\\temp\\", "C:\\App\\Orvessa.exe",
       -1, false},
      {"temp answer too large", "C:\\App\\Updater.exe", "", 300, false, false, 0, 1, "C:\\App\\temp\\",
       "C:\\App\\Orvessa.exe", -1, false},
      {"temp answer exactly the buffer", "C:\\App\\Updater.exe", "", 260, false, false, 0, 1, "C:\\App\\temp\\",
       "C:\\App\\Orvessa.exe", -1, false},
      {"long temp dir falls back", "C:\\App\\Updater.exe", longTemp, -1, false, false, 0, 1, "C:\\App\\temp\\",
       "C:\\App\\Orvessa.exe", -1, false},
      {"nothing fits", longModule, longTemp, -1, false, false, 0, 0, "", "C:\\" + Repeat('m', 240) + "\\Orvessa.exe", 206, false},
      {"module path cut by the platform", fullModule, "", 0, false, false, 0, 0, "", "", 206, false},
  };
  for (const PrepareCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
  folder.Reset();
    folder.Reset();
    fake.modulePath = c.modulePath;
    fake.tempDir = c.tempDir;
    fake.tempAnswer = c.tempAnswer;
    fake.failMakeDirectory = c.failCreate;
    fake.makeDirectoryError = c.createError;
    std::string expectedDir = c.expectWorkDir;
    if (c.dirExists) fake.dirs.insert(expectedDir);
    fake.files[expectedDir + "setup.exe"] = "MZold";
    fake.files[expectedDir + "mnMain.swf"] = "FWSold";

    EXPECT_EQ(c.expectAnswer, PrepareWorkPaths(&folder));
    EXPECT_STREQ(c.expectWorkDir, gWorkPaths.workDir);
    EXPECT_EQ(c.expectHostExe, std::string(gWorkPaths.hostExePath));
    if (c.expectBoxCode >= 0) {
      ASSERT_EQ(1u, fake.boxes.size());
      EXPECT_EQ(L"创建临时目录失败，错误代码" + std::to_wstring(c.expectBoxCode), fake.boxes[0].text);
      EXPECT_EQ(L"错误", fake.boxes[0].caption);
      EXPECT_EQ(platform::kMbOk, fake.boxes[0].style);
      EXPECT_EQ(nullptr, fake.boxes[0].owner);
    } else {
      EXPECT_TRUE(fake.boxes.empty());
    }
    if (c.expectAnswer) {
      EXPECT_EQ(expectedDir + "setup.exe", std::string(gWorkPaths.installerPath));
    }
    EXPECT_EQ(!c.expectInstallerRemoved, fake.files.count(expectedDir + "setup.exe") == 1);
    EXPECT_EQ(1u, fake.files.count(expectedDir + "mnMain.swf"));  // content is never touched here
    if (c.expectAnswer) {  // every file the run keeps there fits its fixed buffer
      EXPECT_LT(strlen(gWorkPaths.workDir) + strlen(outside::kContentPartName), platform::kMaxPath);
    }
  }
}

TEST_F(WorkPathsTest, FoldersTheCodePageCannotHoldGoByTheirShortNames) {
  struct NarrowCase {
    const char* name;
    std::wstring path;
    std::wstring shortName;  // empty: the volume has none
    int answer;
    std::string narrow;
  };
  const std::wstring lossy = L"C:\\Users\\\u4e34\u65f6\\";
  const NarrowCase cases[] = {
      {"held by the code page", L"C:\\Temp\\", L"C:\\TEMP\\", 1, "C:\\Temp\\"},
      {"lossy, short name", lossy, L"C:\\Users\\____~MZA\\", 1, "C:\\Users\\____~MZA\\"},
      {"lossy, no short name", lossy, L"", 0, ""},
      {"lossy, short name lossy too", lossy, lossy, 0, ""},
      {"lossy, short name too long", lossy, L"C:\\" + std::wstring(300, L'S') + L"\\", 0, ""},
      {"held but too long", L"C:\\" + std::wstring(300, L'T') + L"\\", L"C:\\TTTTTT~1\\", 0, ""},
  };
  for (const NarrowCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
  folder.Reset();
    folder.Reset();
    if (!c.shortName.empty()) fake.shortNames[c.path] = c.shortName;
    char out[platform::kMaxPath];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(c.answer, NarrowSystemPath(c.path.c_str(), out, sizeof out));
    EXPECT_EQ(c.narrow, std::string(out));
  }
  // The whole preparation, with both folders named in characters the code page lacks.
  NextCase();
  folder.Reset();
  fake.modulePath = "C:\\\xe7\xa8\x8b\xe5\xba\x8f\\Updater.exe";  // C:\程序\Updater.exe
  fake.tempDir = "C:\\\xe4\xb8\xb4\xe6\x97\xb6\\";                  // C:\临时
  fake.shortNames[L"C:\\\u7a0b\u5e8f\\Updater.exe"] = L"C:\\APP~1\\Updater.exe";
  fake.shortNames[L"C:\\\u4e34\u65f6\\"] = L"C:\\TMP~1\\";
  EXPECT_EQ(1, PrepareWorkPaths(&folder));
  EXPECT_STREQ("C:\\APP~1\\Orvessa.exe", gWorkPaths.hostExePath);
  EXPECT_STREQ("C:\\TMP~1\\kelvaport\\", gWorkPaths.workDir);
  EXPECT_EQ(1, gWorkPaths.shortNameUsed);
}

TEST_F(WorkPathsTest, BorrowedFoldersAreRefused) {
  struct BorrowedCase {
    const char* name;
    std::string temp;  // "": no temp folder, so the folder beside the program
    bool reparse, foreign, ownerless;
    int answer;
  };
  const BorrowedCase cases[] = {
      {"own work folder", "C:\\Temp\\", false, false, false, 1},
      {"work folder is a junction", "C:\\Temp\\", true, false, false, 0},
      {"kelvaport\\ made before by another user", "C:\\Temp\\", false, true, false, 0},
      {"temp\\ beside the program is a link", "", true, false, false, 0},
      {"temp\\ beside the program made by another user", "", false, true, false, 0},
      {"temp\\ beside the program on a volume without owners", "", false, false, true, 1},
      {"kelvaport\\ on a volume without owners", "C:\\Temp\\", false, false, true, 1},
  };
  for (const BorrowedCase& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
  folder.Reset();
    folder.Reset();
    fake.tempDir = c.temp;
    if (c.temp.empty()) fake.tempAnswer = 0;
    std::string dir = c.temp.empty() ? "C:\\App\\temp\\" : c.temp + "kelvaport\\";
    fake.dirs.insert(dir);
    fake.files[dir + "setup.exe"] = "MZ planted";
    if (c.reparse) fake.reparsePoints.insert(dir);
    if (c.foreign) fake.foreignOwned.insert(dir);
    fake.ownerlessVolume = c.ownerless;
    EXPECT_EQ(c.answer, PrepareWorkPaths(&folder));
    EXPECT_EQ(c.answer ? 0u : 1u, fake.boxes.size());
    EXPECT_EQ(c.ownerless, gWorkPaths.ownerUnknown == 1);
    EXPECT_EQ(c.answer == 1, static_cast<bool>(folder));
    if (!c.answer) {
      EXPECT_EQ(L"创建临时目录失败，错误代码1921", fake.boxes[0].text);
      EXPECT_EQ(1u, fake.files.count(dir + "setup.exe"));  // nothing touched in there
    }
  }
}

TEST_F(WorkPathsTest, TheCheckedFolderIsHeldUntilTheRunEnds) {
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "existing folder" : "folder made by this run");
    NextCase();
  folder.Reset();
    folder.Reset();
    if (existing) fake.dirs.insert("C:\\Temp\\kelvaport\\");
    ASSERT_EQ(1, PrepareWorkPaths(&folder));
    // Held before its checks: nobody can swap it for a junction afterwards.
    EXPECT_LT(fake.IndexOf("OpenFolder"), existing ? fake.IndexOf("FolderOwnerTrusted") : 1 << 20);
    EXPECT_EQ(existing, fake.Called("FolderOwnerTrusted"));  // one this run made is the user's
    EXPECT_FALSE(fake.RenameFolder("C:\\Temp\\kelvaport\\"));
    folder.Reset();
    EXPECT_TRUE(fake.RenameFolder("C:\\Temp\\kelvaport\\"));
  }
}

TEST_F(WorkPathsTest, AFileInPlaceOfTheFolderLetsTheRunGoOn) {
  fake.files["C:\\Temp\\kelvaport"] = "not a folder";
  EXPECT_EQ(1, PrepareWorkPaths(&folder));
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_FALSE(folder);
  EXPECT_EQ("not a folder", fake.files["C:\\Temp\\kelvaport"]);
}

TEST_F(WorkPathsTest, StaleInstallerThatCannotBeRemovedIsNoFailure) {
  fake.dirs.insert("C:\\Temp\\kelvaport\\");
  fake.files["C:\\Temp\\kelvaport\\setup.exe"] = "MZ";
  fake.locked.insert("C:\\Temp\\kelvaport\\setup.exe");
  EXPECT_EQ(1, PrepareWorkPaths(&folder));
  EXPECT_TRUE(fake.boxes.empty());
}

}  // namespace
