#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host/specs.h"
#include "host/specs_fields.h"
#include "support/temp_dir.h"
#include "util/atomic_file.h"

namespace tarvo {
namespace {

TEST(Specs, BuiltInDefaultRecordHoldsDocumentedValuesAndZeroElsewhere) {
  TSpecs s = BuiltInDefaultSpecs();
  EXPECT_EQ(s.Version, 72);
  EXPECT_EQ(s.Vmax, 255);
  EXPECT_EQ(s.Vwhite, 255);
  EXPECT_EQ(s.Gain, 100);
  EXPECT_EQ(s.Sat, 100);
  EXPECT_EQ(s.Knee, 100);
  EXPECT_EQ(s.Slope, 50);
  EXPECT_EQ(s.RGain + s.GGain + s.BGain, 300);
  EXPECT_EQ(s.NoiseMaskYOnly, 1);
  EXPECT_EQ(s.MaskRadius, 2);
  EXPECT_EQ(s.SharpRadius, 1);
  EXPECT_EQ(s.TempLimit, 50);
  EXPECT_EQ(s.TempResponse, 50);
  EXPECT_EQ(SceneNameOf(s), "<none>");
  // Every byte not named above is zero.
  TSpecs z;
  std::memset(&z, 0, sizeof z);
  z.Version = 72; z.Vmax = 255; z.Vwhite = 255; z.Gain = 100; z.Sat = 100; z.Knee = 100; z.Slope = 50;
  z.RGain = z.GGain = z.BGain = 100; z.NoiseMaskYOnly = 1; z.MaskRadius = 2; z.SharpRadius = 1;
  z.TempLimit = 50; z.TempResponse = 50;
  SetSceneName(z, "<none>");
  EXPECT_EQ(std::memcmp(&s, &z, sizeof s), 0);
}

TEST(Specs, EqualityIgnoresDialogStateButSeesEveryByteFrom32To223) {
  const TSpecs a = BuiltInDefaultSpecs();
  TSpecs b = a;
  b.FramePos = 9; b.PageIndex = 3; b.UseMaster = 1; b.Vblack = 16; b.Vblank = 16; b.Vwhite = 235;
  b.Version = 70; b.MonitorView = 2; b.ChannelView = 1; b.Bypass = 1; b.BalanceLabels = 1; b.LastPart = 4;
  SetSceneName(b, "Evening");
  EXPECT_TRUE(SpecsEqual(a, b));
  for (int off : {32, 36, 100, 174, 223}) {
    TSpecs c = a;
    reinterpret_cast<uint8_t*>(&c)[off] ^= 1;
    EXPECT_FALSE(SpecsEqual(a, c)) << "offset " << off;
  }
  for (auto f : {&TSpecs::Vmin, &TSpecs::Vmax, &TSpecs::ProcMode, &TSpecs::TestSignal}) {
    TSpecs c = a;
    c.*f += 1;
    EXPECT_FALSE(SpecsEqual(a, c));
  }
}

TEST(Specs, Format69RecordGrowsAndPassesThroughEveryUpgrade) {
  HostServices& host = InProcessHost();
  OwnedHandle h(host.NewHandle(200));  // older records were shorter
  auto* s = reinterpret_cast<TSpecs*>(*h.get());
  s->Version = 69;
  s->Knee = 30;
  s->YSharpness = 40;
  s->CSharpness = 1;  // selector: luminance only
  EXPECT_TRUE(UpgradeSpecs(h.get(), host));
  ASSERT_EQ(host.GetHandleSize(h.get()), 256);
  s = reinterpret_cast<TSpecs*>(*h.get());
  EXPECT_EQ(s->Version, 72);
  EXPECT_EQ(s->Knee, 70);
  EXPECT_EQ(s->Slope, 50);
  EXPECT_EQ(SceneNameOf(*s), "<none>");
  EXPECT_EQ(s->YSharpness, 40);
  EXPECT_EQ(s->CSharpness, 0);
  EXPECT_FALSE(UpgradeSpecs(h.get(), host));
}

TEST(Specs, Format71ChannelSelectorsBecomeColourStrengths) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Version = 71;
  s.YSharpness = 40; s.CSharpness = 2;          // colour only
  s.YDespeckle = 3; s.CDespeckle = 0;           // both
  s.TempYThreshold = 20; s.TempCThreshold = 7;  // unknown selector: kept
  EXPECT_TRUE(UpgradeSpecs(s));
  EXPECT_EQ(s.Version, 72);
  EXPECT_EQ(s.YSharpness, 0);
  EXPECT_EQ(s.CSharpness, 40);
  EXPECT_EQ(s.YDespeckle, 3);
  EXPECT_EQ(s.CDespeckle, 3);
  EXPECT_EQ(s.TempYThreshold, 20);
  EXPECT_EQ(s.TempCThreshold, 7);
}

TEST(Specs, CurrentAndUnknownVersionsAreNotTouched) {
  for (int16_t v : {72, 0, 68, 73, -1}) {
    TSpecs s = BuiltInDefaultSpecs();
    s.Version = v;
    TSpecs before = s;
    EXPECT_FALSE(UpgradeSpecs(s));
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);
  }
}

TEST(Specs, DerivedValuesRoundHalvesToEvenOnExtendedIntermediates) {
  const std::pair<int, int> gains[] = {{-100, -256}, {-50, -224}, {-25, -148}, {-10, -69}, {-1, -8}, {0, 0},
                                       {1, 8},       {10, 85},    {25, 244},   {50, 608},   {75, 1116}, {100, 1792}};
  for (auto [setting, gain] : gains) EXPECT_EQ(SharpGainOf(setting), gain) << setting;

  TSpecs s = BuiltInDefaultSpecs();
  const std::pair<int, int> levels[] = {{10, 26}, {30, 76}, {50, 128}, {70, 178}, {90, 230}, {100, 255}};
  for (auto [ld, lv] : levels) {
    s.LevelDepend = static_cast<int16_t>(ld);
    EXPECT_EQ(ComputeDerived(s).LevelDependLevel, lv) << ld;
  }
  s.Vmin = 16; s.Vmax = 235; s.Vblack = 16;
  s.MedianLimit = 50;  // 2500 * 219 * 0.0001 = 54.75
  TDerived d = ComputeDerived(s);
  EXPECT_EQ(d.Range, 219);
  EXPECT_EQ(d.MedianMaxStep, 55);
  EXPECT_EQ(d.PeakSpan[0], 219 * 4);
  EXPECT_EQ(d.PeakSpan[3], 219 * 12);
  s.MedianThreshold = 33;
  EXPECT_EQ(MedianStepThreshold(s, d), 33 * 219 / 100);
  // The square is a 16-bit product: 200^2 = 40000 wraps to -25536.
  s.MedianLimit = 200; s.Vmin = 0; s.Vmax = 255;
  EXPECT_EQ(ComputeDerived(s).MedianMaxStep, -651);  // -25536 * 255 * 0.0001 = -651.168
}

TEST(Specs, RecordFilesOfTheWrongSizeAreRefusedWithoutTouchingTheRecord) {
  char dir[] = "/tmp/tarvo-specs-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/clip.rec";
  TSpecs s = BuiltInDefaultSpecs();
  s.Lift = 12;
  std::string err;
  ASSERT_TRUE(WriteSpecsFile(path, s, &err)) << err;
  TSpecs back{};
  ASSERT_TRUE(ReadSpecsFile(path, back, &err)) << err;
  EXPECT_EQ(back.Lift, 12);

  const uint8_t half[100] = {};
  ASSERT_TRUE(WriteFileAtomically(path, half, sizeof half, &err));
  TSpecs untouched = BuiltInDefaultSpecs();
  EXPECT_FALSE(ReadSpecsFile(path, untouched, &err));
  EXPECT_NE(err.find("100 bytes"), std::string::npos) << err;
  EXPECT_EQ(untouched.Lift, 0);
  EXPECT_FALSE(ReadSpecsFile(std::string(dir) + "/missing.rec", untouched, &err));
  EXPECT_FALSE(WriteSpecsFile("/nonexistent-dir/x.rec", s, &err));
  unlink(path.c_str());
  rmdir(dir);
}

TEST(Specs, RecordPathsThatAreNotFilesOrTooLargeAreRefusedBeforeReading) {
  ::alarm(20);  // a read that blocks on the pipe ends the test
  test::TempDir dir;
  const TSpecs original = BuiltInDefaultSpecs();
  auto refused = [&](const std::string& path, const std::string& reason) {
    TSpecs untouched = original;
    std::string err;
    EXPECT_FALSE(ReadSpecsFile(path, untouched, &err)) << path;
    EXPECT_NE(err.find("'" + path + "'"), std::string::npos) << err;
    EXPECT_NE(err.find(reason), std::string::npos) << err;
    EXPECT_EQ(std::memcmp(&untouched, &original, sizeof original), 0);
  };
  refused(dir.path(), "directory");
  ASSERT_EQ(::mkfifo((dir / "pipe.rec").c_str(), 0600), 0);
  refused(dir / "pipe.rec", "named pipe");
  // 20 GB of nothing: refused by its size, not read.
  const std::string huge = dir / "huge.rec";
  const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  if (::ftruncate(fd, off_t{20} << 30) == 0) refused(huge, "it holds 21474836480 bytes, a record is exactly 256");
  ::close(fd);
  // One byte too many.
  const std::string bytes(257, '\0');
  test::WriteText(dir / "long.rec", bytes);
  refused(dir / "long.rec", "it holds 257 bytes");
  ::alarm(0);
}

TEST(SpecsFields, TableCoversTheRecordAndChecksRanges) {
  TSpecs s = BuiltInDefaultSpecs();
  std::string err;
  EXPECT_TRUE(ApplyFieldAssignment(s, "Gain=400", &err)) << err;
  EXPECT_EQ(s.Gain, 400);
  EXPECT_TRUE(ApplyFieldAssignment(s, "ProcMode=420", &err)) << err;
  EXPECT_EQ(s.ProcMode, 2);
  EXPECT_TRUE(ApplyFieldAssignment(s, "Lift=-100", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Lift=-101", &err));
  EXPECT_NE(err.find("between -100 and 100"), std::string::npos);
  EXPECT_FALSE(ApplyFieldAssignment(s, "Lfit=3", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Sat=abc", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Sat", &err));
  EXPECT_EQ(s.Sat, 100);
  // Field offsets in the table agree with the struct.
  for (const auto& f : SpecsFields()) {
    EXPECT_EQ(f.offset % 2, 0) << f.name;
    EXPECT_LT(f.offset, 224) << f.name;
  }
  EXPECT_EQ(FindSpecsField("TempCThreshold")->offset, offsetof(TSpecs, TempCThreshold));
  EXPECT_EQ(FindSpecsField("LevelDepend")->offset, offsetof(TSpecs, LevelDepend));
}

}  // namespace
}  // namespace tarvo
