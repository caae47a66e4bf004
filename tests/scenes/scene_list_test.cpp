#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/icu_collation.h"
#include "scenes/cp1252.h"
#include "scenes/scene_list.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

// A scene record named `name` (Windows-1252 bytes) with a marker in Gain.
TSpecs Record(const std::string& name, int16_t gain = 100) {
  TSpecs s = BuiltInDefaultSpecs();
  SetSceneName(s, name);
  s.Gain = gain;
  return s;
}

std::string Bytes(std::initializer_list<TSpecs> records, size_t extra = 0) {
  std::string out;
  for (const TSpecs& r : records) out.append(reinterpret_cast<const char*>(&r), sizeof r);
  out.append(extra, '\x5A');
  return out;
}

std::unique_ptr<TScene> SceneOf(const TSpecs& s) {
  auto scene = std::make_unique<TScene>();
  scene->Specs = s;
  return scene;
}

class SceneList : public ::testing::Test {
 protected:
  std::unique_ptr<Collator> collator_ = MakeIcuCollator("en_US.UTF-8");
  TSceneList list_{*collator_};
  TempDir dir_;
};

TEST_F(SceneList, AFileOf600BytesHoldsTwoScenesAndKeepsItsTailWithAReport) {
  const std::string file = dir_ / "SCENES.KVS";
  const std::string bytes = Bytes({Record("Alpha", 101), Record("Beta", 102)}, 88);
  WriteText(file, bytes);
  ASSERT_TRUE(list_.SetFileName(file));
  ASSERT_EQ(list_.Count(), 3);
  EXPECT_EQ(list_.Name(0), "<none>");
  EXPECT_EQ(list_.Scene(0), nullptr);
  EXPECT_EQ(list_.Name(1), "Alpha");
  EXPECT_EQ(list_.Scene(2)->Specs.Gain, 102);
  EXPECT_EQ(list_.TrailingByteCount(), 88u);
  ASSERT_EQ(list_.LoadProblems().size(), 1u);
  EXPECT_NE(list_.LoadProblems()[0].find("last 88 bytes of '" + file + "'"), std::string::npos)
      << list_.LoadProblems()[0];
  // Saved with a scene more, the tail stays at the end.
  ASSERT_GT(list_.Add("Gamma", SceneOf(Record("Gamma", 103))), 0);
  ASSERT_TRUE(list_.SaveToFile(file));
  EXPECT_EQ(ReadText(file), Bytes({Record("Alpha", 101), Record("Beta", 102), Record("Gamma", 103)}) +
                                bytes.substr(512));
}

TEST_F(SceneList, EqualNamesListTheLastRecordUnderItsOwnNameAndKeepTheEarlierOnes) {
  std::istringstream in(Bytes({Record("evening", 1), Record("Evening", 2)}));
  list_.LoadFromStream(in);
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.Name(1), "Evening");
  EXPECT_EQ(list_.Scene(1)->Specs.Gain, 2);
  EXPECT_EQ(list_.IndexOf("EVENING"), 1);
  EXPECT_EQ(list_.IndexOf("morning"), -1);
  EXPECT_EQ(list_.IndexOf("<none>"), 0);
  EXPECT_EQ(list_.SetAsideCount(), 1);
  ASSERT_EQ(list_.LoadProblems().size(), 1u);
  EXPECT_NE(list_.LoadProblems()[0].find("Scene record 1 (\"evening\") has the name of the later record 2 "
                                         "(\"Evening\")"),
            std::string::npos)
      << list_.LoadProblems()[0];

  // Four records, two names: all four survive a save, and the same records
  // are listed after it.
  const std::string file = dir_ / "SCENES.KVS";
  WriteText(file, Bytes({Record("Dawn", 1), Record("Noon", 2), Record("dawn", 3), Record("NOON", 4)}));
  TSceneList fromFile(*collator_);
  ASSERT_TRUE(fromFile.SetFileName(file));
  ASSERT_EQ(fromFile.Count(), 3);
  EXPECT_EQ(fromFile.Name(1), "dawn");
  EXPECT_EQ(fromFile.Scene(1)->Specs.Gain, 3);
  EXPECT_EQ(fromFile.Name(2), "NOON");
  EXPECT_EQ(fromFile.Scene(2)->Specs.Gain, 4);
  EXPECT_EQ(fromFile.LoadProblems().size(), 2u);
  ASSERT_GT(fromFile.Add("Dusk", SceneOf(Record("Dusk", 5))), 0);
  ASSERT_TRUE(fromFile.SaveToFile(file));
  EXPECT_EQ(ReadText(file), Bytes({Record("Dawn", 1), Record("Noon", 2), Record("dawn", 3), Record("Dusk", 5),
                                   Record("NOON", 4)}));
  TSceneList again(*collator_);
  ASSERT_TRUE(again.SetFileName(file));
  ASSERT_EQ(again.Count(), 4);
  EXPECT_EQ(again.Scene(again.IndexOf("dawn"))->Specs.Gain, 3);
  EXPECT_EQ(again.Scene(again.IndexOf("noon"))->Specs.Gain, 4);

  // Deleting a listed scene lists the earlier record of its name, as the
  // next loading would.
  again.Delete(again.IndexOf("Dawn"));
  ASSERT_EQ(again.IndexOf("dawn"), 1);
  EXPECT_EQ(again.Name(1), "Dawn");
  EXPECT_EQ(again.Scene(1)->Specs.Gain, 1);
  ASSERT_TRUE(again.SaveToFile(file));
  EXPECT_EQ(ReadText(file), Bytes({Record("Noon", 2), Record("Dawn", 1), Record("Dusk", 5), Record("NOON", 4)}));
}

TEST_F(SceneList, EmptyAndMissingFilesGiveJustThePlaceholder) {
  WriteText(dir_ / "empty.kvs", "");
  ASSERT_TRUE(list_.SetFileName(dir_ / "empty.kvs"));
  EXPECT_EQ(list_.Count(), 1);
  TSceneList other(*collator_);
  ASSERT_TRUE(other.SetFileName(dir_ / "missing.kvs"));
  EXPECT_EQ(other.Count(), 1);
  EXPECT_EQ(other.Name(0), "<none>");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.kvs"));  // binding writes nothing
}

TEST_F(SceneList, DeletingEveryScenesLeavesAnEmptyFile) {
  const std::string file = dir_ / "SCENES.KVS";
  WriteText(file, Bytes({Record("One"), Record("Two"), Record("Three")}));
  list_.SetFileName(file);
  while (list_.Count() > 1) list_.Delete(1);
  list_.Delete(0);  // the placeholder stays
  EXPECT_EQ(list_.Count(), 1);
  ASSERT_TRUE(list_.SaveToFile(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST_F(SceneList, ScenesAreOrderedByTheLocaleIgnoringCase) {
  for (const char* n : {"zebra", "Äpfel", "apple", "Banana", "2nd take", "Apfel"})
    ASSERT_GT(list_.Add(n, SceneOf(Record("x"))), 0) << n;
  std::vector<std::string> names;
  for (int i = 0; i < list_.Count(); ++i) names.push_back(list_.Name(i));
  const std::vector<std::string> expected = {"<none>", "2nd take", "Apfel", "Äpfel", "apple", "Banana", "zebra"};
  EXPECT_EQ(names, expected);
  // Accents count, letter case does not.
  EXPECT_EQ(list_.IndexOf("APFEL"), 2);
  EXPECT_EQ(list_.IndexOf("äPFEL"), 3);
  // Adding an equal name replaces the scene and keeps the entry's spelling.
  EXPECT_EQ(list_.Add("BANANA", SceneOf(Record("BANANA", 7))), 5);
  EXPECT_EQ(list_.Count(), 7);
  EXPECT_EQ(list_.Name(5), "Banana");
  EXPECT_EQ(list_.Scene(5)->Specs.Gain, 7);
}

TEST_F(SceneList, NamesThatCannotBeListedAreRefusedWithAReason) {
  list_.SetFileName(dir_ / "SCENES.KVS");
  struct Case {
    const char* name;
    const char* reason;
  } cases[] = {{"", "blank"},
               {"  \t ", "blank"},
               {"(old)", "before \"<none>\""},
               {"<NONE>", "before \"<none>\""},
               {" leading", "before \"<none>\""},
               {"\xE6\x97\xA5\xE6\x9C\xAC", "U+65E5"},
               {"abcdefghijklmnopqrstuvwxyzABCDEF", "31"},
               {"bad \xFF utf8", "UTF-8"}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(list_.Add(c.name, SceneOf(Record("x")), &error), -1) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_EQ(list_.Name(0), "<none>");
  EXPECT_GT(list_.Add("abcdefghijklmnopqrstuvwxyzABCDE", SceneOf(Record("x"))), 0);  // 31 is fine
}

TEST_F(SceneList, RecordsWithUnlistableNamesAreKeptInTheFile) {
  const std::string file = dir_ / "SCENES.KVS";
  WriteText(file, Bytes({Record("(old)", 5), Record("Good", 6), Record("", 7)}));
  list_.SetFileName(file);
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.Name(1), "Good");
  EXPECT_EQ(list_.SetAsideCount(), 2);
  ASSERT_EQ(list_.LoadProblems().size(), 2u);
  EXPECT_NE(list_.LoadProblems()[0].find("Scene record 1"), std::string::npos);
  ASSERT_TRUE(list_.SaveToFile(file));
  EXPECT_EQ(ReadText(file), Bytes({Record("Good", 6), Record("(old)", 5), Record("", 7)}));
}

TEST_F(SceneList, NamesCrossBetweenWindows1252AndUtf8) {
  std::istringstream in(Bytes({Record("Caf\xE9 No\xEBl \x80")}));
  list_.LoadFromStream(in);
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.Name(1), "Caf\xC3\xA9 No\xC3\xABl \xE2\x82\xAC");
  std::string stored;
  ASSERT_TRUE(list_.CheckName("Caf\xC3\xA9 No\xC3\xABl \xE2\x82\xAC", &stored, nullptr));
  EXPECT_EQ(stored, "Caf\xE9 No\xEBl \x80");
  // Every byte survives the round trip.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(all), back, nullptr));
  EXPECT_EQ(back, all);
}

TEST_F(SceneList, AFailedSaveKeepsTheOldFileAndSaysWhy) {
  const std::string file = dir_ / "SCENES.KVS";
  const std::string old = Bytes({Record("One"), Record("Two")});
  WriteText(file, old);
  list_.SetFileName(file);
  ASSERT_GT(list_.Add("Three", SceneOf(Record("Three"))), 0);

  // A disk that fills up during the write: a file-size limit makes the write
  // fail part way (as root, permission bits would not stop it).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 300;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool saved_ok = list_.SaveToFile(file, &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved_ok);
  EXPECT_NE(error.find(file), std::string::npos) << error;
  EXPECT_EQ(ReadText(file), old);
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))  // no temporary left
    EXPECT_TRUE(e.path().filename() == "SCENES.KVS" || e.path().filename() == "SCENES.KVS.lock") << e.path();

  // A folder that cannot exist.
  WriteText(dir_ / "plain", "x");
  EXPECT_FALSE(list_.SaveToFile(dir_ / "plain/SCENES.KVS", &error));
  EXPECT_NE(error.find("could not be saved"), std::string::npos);
  ASSERT_TRUE(list_.SaveToFile(file));
  EXPECT_EQ(std::filesystem::file_size(file), 768u);
}

TEST_F(SceneList, ASceneFileThatCannotBeReadIsReportedAndNeverSavedOver) {
  ::alarm(20);  // a load that blocks on the pipe ends the test
  ASSERT_EQ(::mkfifo((dir_ / "pipe.kvs").c_str(), 0600), 0);
  std::filesystem::create_directory(dir_ / "folder.kvs");
  // Larger than any scene file read: sparse, so it costs no disk.
  const std::string huge = dir_ / "huge.kvs";
  WriteText(huge, Bytes({Record("Kept")}));
  std::filesystem::resize_file(huge, kMaxSceneFileSize + 256);
  const std::pair<std::string, std::string> cases[] = {
      {dir_ / "folder.kvs", "is a directory"},
      {dir_ / "pipe.kvs", "is a named pipe"},
      {huge, "holds 67109120 bytes, more than the 64 MiB"},
  };
  for (const auto& [path, reason] : cases) {
    TSceneList list(*collator_);
    ASSERT_TRUE(list.SetFileName(path));
    EXPECT_EQ(list.Count(), 1) << path;
    EXPECT_NE(list.LoadError().find("'" + path + "'"), std::string::npos) << list.LoadError();
    EXPECT_NE(list.LoadError().find(reason), std::string::npos) << list.LoadError();
    // What is there stays there: saving the one new scene would replace it.
    ASSERT_GT(list.Add("New", SceneOf(Record("New"))), 0);
    std::string error;
    EXPECT_FALSE(list.SaveToFile(path, &error));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    std::string why;
    EXPECT_FALSE(list.LoadFromFile(path, &why));
    EXPECT_NE(why.find(reason), std::string::npos) << why;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "folder.kvs"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir_ / "pipe.kvs"));
  EXPECT_EQ(std::filesystem::file_size(huge), kMaxSceneFileSize + 256);
  // Saved elsewhere, the scenes are kept.
  TSceneList list(*collator_);
  list.SetFileName(dir_ / "folder.kvs");
  list.Add("New", SceneOf(Record("New")));
  EXPECT_TRUE(list.SaveToFile(dir_ / "other.kvs"));
  // A missing file is no problem: it is created.
  TSceneList fresh(*collator_);
  fresh.SetFileName(dir_ / "new.kvs");
  EXPECT_EQ(fresh.LoadError(), "");
  fresh.Add("New", SceneOf(Record("New")));
  EXPECT_TRUE(fresh.SaveToFile(dir_ / "new.kvs"));
  ::alarm(0);
}

// Loading sorts the records once; the list must be the one that adding them
// one by one gives: order, names equal to those added, the last record of
// equal names under its own spelling, and every earlier record kept aside.
TEST_F(SceneList, LoadingGivesTheListThatAddingOneByOneGives) {
  const SimpleCollator simple;
  for (const Collator* c : {static_cast<const Collator*>(collator_.get()), static_cast<const Collator*>(&simple)}) {
    std::mt19937 rng(20261207);
    const char* stems[] = {"Evening", "evening", "EVENING", "Éclair", "eclair", "Zebra", "2nd Take", "Übel",
                           "apple", "Apple pie", "b", "B", "Old Film", "old film", "Noir", "Ñu"};
    std::vector<TSpecs> records;
    for (int i = 0; i < 600; ++i) {
      std::string name = stems[rng() % 16];
      if (rng() % 2) name += " " + std::to_string(rng() % 40);
      std::string stored;
      ASSERT_TRUE(Utf8ToCp1252(name, stored, nullptr));
      records.push_back(Record(stored, static_cast<int16_t>(i)));
    }
    std::string bytes;
    for (const TSpecs& r : records) bytes.append(reinterpret_cast<const char*>(&r), sizeof r);

    TSceneList added(*c), loaded(*c);
    // Both lists start with some entries of their own, one of them the same
    // name as file records in another letter case.
    for (TSceneList* l : {&added, &loaded}) {
      l->Add("EVENING 7", SceneOf(Record("EVENING 7", -1)));
      l->Add("Mango", SceneOf(Record("Mango", -2)));
    }
    for (const TSpecs& r : records) added.Add(Cp1252ToUtf8(SceneNameOf(r)), SceneOf(r));
    std::istringstream in(bytes);
    loaded.LoadFromStream(in);

    ASSERT_EQ(loaded.Count(), added.Count());
    int fromFile = 0;
    for (int i = 0; i < added.Count(); ++i) {
      EXPECT_EQ(c->Compare(loaded.Name(i), added.Name(i)), 0) << i;
      ASSERT_EQ(loaded.Scene(i) == nullptr, added.Scene(i) == nullptr) << i;
      if (added.Scene(i)) {
        EXPECT_EQ(loaded.Scene(i)->Specs.Gain, added.Scene(i)->Specs.Gain) << added.Name(i);
        if (loaded.Scene(i)->Specs.Gain >= 0) {
          ++fromFile;
          EXPECT_EQ(loaded.Name(i), Cp1252ToUtf8(SceneNameOf(loaded.Scene(i)->Specs))) << i;
        }
      }
    }
    EXPECT_EQ(loaded.SetAsideCount(), static_cast<int>(records.size()) - fromFile);
  }
}

TEST_F(SceneList, RebindingSavesTheOldFileAndLoadsTheNewOne) {
  const std::string a = dir_ / "a.kvs", b = dir_ / "b.kvs";
  WriteText(b, Bytes({Record("Bee")}));
  list_.SetFileName(a);
  list_.Add("Ant", SceneOf(Record("Ant")));
  ASSERT_TRUE(list_.SetFileName(b));
  EXPECT_EQ(ReadText(a), Bytes({Record("Ant")}));
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.Name(1), "Bee");
  // When the old file cannot be saved the list stays bound to it.
  TSceneList other(*collator_);
  WriteText(dir_ / "plain", "x");
  other.SetFileName(dir_ / "plain/x.kvs");
  other.Add("Cat", SceneOf(Record("Cat")));
  std::string error;
  EXPECT_FALSE(other.SetFileName(b, &error));
  EXPECT_EQ(other.FileName(), dir_ / "plain/x.kvs");
  EXPECT_EQ(other.Count(), 2);
}

TEST_F(SceneList, SavingMergesThisListsChangesIntoWhatTheFileHoldsNow) {
  const std::string file = dir_ / "SCENES.KVS";
  WriteText(file, Bytes({Record("Keep", 1), Record("Old", 2), Record("Tune", 3)}) + "tail");
  TSceneList first(*collator_), second(*collator_);
  ASSERT_TRUE(first.SetFileName(file));
  ASSERT_TRUE(second.SetFileName(file));
  // Both loaded the same file; each changes different scenes.
  ASSERT_GT(first.Add("Added by first", SceneOf(Record("Added by first", 10))), 0);
  first.Scene(first.IndexOf("Tune"))->Specs.Gain = 30;  // changed in place, as an upgrade does
  ASSERT_GT(second.Add("Added by second", SceneOf(Record("Added by second", 20))), 0);
  second.Delete(second.IndexOf("Old"));
  std::string error;
  ASSERT_TRUE(first.SaveToFile(file, &error)) << error;
  ASSERT_TRUE(second.SaveToFile(file, &error)) << error;

  EXPECT_EQ(ReadText(file), Bytes({Record("Added by first", 10), Record("Added by second", 20), Record("Keep", 1),
                                   Record("Tune", 30)}) +
                                "tail");
  // The second list now holds what it wrote, the first one's scenes too.
  EXPECT_EQ(second.Count(), 5);
  EXPECT_EQ(second.Scene(second.IndexOf("Tune"))->Specs.Gain, 30);
  // A scene the first list never changed stays as the second one left it.
  ASSERT_TRUE(first.SaveToFile(file, &error)) << error;
  EXPECT_EQ(first.IndexOf("Old"), -1);
  EXPECT_EQ(first.Count(), 5);
}

TEST_F(SceneList, ProcessesSavingAtOnceKeepEveryScene) {
  const std::string file = dir_ / "SCENES.KVS";
  constexpr int kProcesses = 6, kScenesEach = 8;
  std::string start;
  for (int p = 0; p < kProcesses; ++p) start += Bytes({Record("Old " + std::to_string(p), static_cast<int16_t>(p))});
  WriteText(file, start);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Each process deletes its own old scene and adds its own, saving
      // after every change, as separate `tarvo scenes` runs do.
      bool ok = true;
      for (int k = 0; k < kScenesEach; ++k) {
        TSceneList list(*collator_);
        list.SetFileName(file);
        if (k == 0) list.Delete(list.IndexOf("Old " + std::to_string(p)));
        const std::string name = "P" + std::to_string(p) + " scene " + std::to_string(k);
        ok = ok && list.Add(name, SceneOf(Record(name, static_cast<int16_t>(100 * p + k)))) > 0 &&
             list.SaveToFile(file);
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  TSceneList result(*collator_);
  ASSERT_TRUE(result.SetFileName(file));
  EXPECT_EQ(result.Count(), 1 + kProcesses * kScenesEach);
  for (int p = 0; p < kProcesses; ++p) {
    EXPECT_EQ(result.IndexOf("Old " + std::to_string(p)), -1) << p;
    for (int k = 0; k < kScenesEach; ++k) {
      const int at = result.IndexOf("P" + std::to_string(p) + " scene " + std::to_string(k));
      ASSERT_GE(at, 1) << p << " " << k;
      EXPECT_EQ(result.Scene(at)->Specs.Gain, 100 * p + k);
    }
  }
}

TEST(Collation, TheSimpleCollatorKeepsThePlaceholderFirst) {
  SimpleCollator c;
  EXPECT_EQ(c.Compare("Evening", "eVENING"), 0);
  EXPECT_LT(c.Compare("<none>", "2nd"), 0);
  EXPECT_LT(c.Compare("<none>", "a"), 0);
  EXPECT_LT(c.Compare("(x)", "<none>"), 0);
  EXPECT_LT(c.Compare("apple", "Banana"), 0);
}

TEST(Collation, IcuFallsBackToTheRootLocale) {
  auto c = MakeIcuCollator("xx_NOWHERE.UTF-8");
  EXPECT_EQ(c->Compare("Evening", "EVENING"), 0);
  EXPECT_LT(c->Compare("apple", "Banana"), 0);
  EXPECT_NE(c->Compare("e", "\xC3\xA9"), 0);
}

}  // namespace
}  // namespace tarvo
