// The run's figures: the bar never moves back and is full only when every part is whole, the
// speed follows the bytes smoothly, and the text says what the parts hold.
#include "app/run_meter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/display_texts.h"

namespace {

std::wstring Std(const CWString& text) { return text.ToStdString(); }

TEST(RunMeterTest, TheBarNeverMovesBackAndIsFullOnlyWhenEveryPartIsWhole) {
  RunMeter meter;
  meter.Start(0);
  const struct {
    std::vector<PartBytes> parts;
    int position;
  } looks[] = {
      {{{0, 100}, {0, 100}}, 0},
      {{{90, 100}, {10, 100}}, 50},
      // One part starts again from its first byte: the bar holds.
      {{{0, 100}, {20, 100}}, 50},
      // A part of unknown size: nothing can be said, the bar holds.
      {{{100, 100}, {60, 100}, {0, -1}}, 50},
      {{{100, 100, true}, {99, 100}}, 99},
      // Every byte came but the last part has not been declared whole yet.
      {{{100, 100, true}, {100, 100}}, 99},
      {{{100, 100, true}, {100, 100, true}}, 100},
  };
  uint64_t now = 0;
  for (const auto& look : looks) {
    meter.Update(now += 250, look.parts);
    EXPECT_EQ(meter.Position(), look.position) << "look " << (&look - looks);
  }
  // A part finished in an earlier run counts in full, whatever it reported.
  meter.Start(0);
  meter.Update(250, {{0, 400, true}, {0, 100}});
  EXPECT_EQ(meter.Position(), 80);
}

TEST(RunMeterTest, SpeedIsSmoothedAndTheTimeLeftFollowsIt) {
  RunMeter meter;
  meter.Start(0);
  const int64_t total = 1000 * 1000 * 1000;
  meter.Update(0, {{0, total}});
  EXPECT_EQ(meter.Speed(), 0);
  EXPECT_TRUE(Std(meter.Text()).ends_with(L"剩余 --")) << testing::PrintToString(Std(meter.Text()));
  // A steady 1 MB/s: the smoothed speed rises towards it without passing it.
  int64_t done = 0;
  double previous = 0;
  for (uint64_t ms = 250; ms <= 20000; ms += 250) {
    done += 250 * 1000;
    meter.Update(ms, {{done, total}});
    EXPECT_GT(meter.Speed(), previous);
    EXPECT_LE(meter.Speed(), 1000 * 1000 + 1);
    previous = meter.Speed();
  }
  EXPECT_GT(meter.Speed(), 0.99 * 1000 * 1000);
  const std::wstring text = Std(meter.Text());
  const std::wstring expected = L"2%  " + Std(FormatSize(static_cast<double>(done))) + L" / " +
                                Std(FormatSize(static_cast<double>(total))) + L"  ";
  EXPECT_TRUE(text.starts_with(expected)) << testing::PrintToString(text);
  // 980 MB left at a little under 1 MB/s.
  EXPECT_TRUE(text.ends_with(L"剩余 16分21秒") || text.ends_with(L"剩余 16分22秒")) << testing::PrintToString(text);
  // One poll that brought nothing moves the speed a little, not to zero.
  meter.Update(20250, {{done, total}});
  EXPECT_GT(meter.Speed(), 0.9 * 1000 * 1000);
  // Nothing for a minute: the speed decays to nothing and the time left to "--".
  for (uint64_t ms = 20500; ms <= 80000; ms += 250) meter.Update(ms, {{done, total}});
  EXPECT_LT(meter.Speed(), 0.5);
  EXPECT_TRUE(Std(meter.Text()).ends_with(L"剩余 --"));
}

TEST(RunMeterTest, TextsOfTheTimeLeftAndOfAnUnknownTotal) {
  const struct {
    int64_t seconds;
    const wchar_t* text;
  } times[] = {{-1, L"--"},
               {0, L"0分00秒"},
               {185, L"3分05秒"},
               {3599, L"59分59秒"},
               {3600, L"1小时00分"},
               {3720, L"1小时02分"},
               {100 * 3600 - 1, L"99小时59分"},
               {100 * 3600, L">99小时"}};
  for (const auto& time : times) EXPECT_EQ(Std(FormatTimeLeft(time.seconds)), time.text);

  RunMeter meter;
  meter.Start(0);
  meter.Update(0, {{2048, 4096}, {0, -1}});
  EXPECT_EQ(Std(meter.Text()), L"2KB  0Byte/S");
}

}  // namespace
