#include "lkword/platform/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "lkword/platform/Exceptions.h"

namespace lkw {
namespace {

// Runs the body with TZ set, restoring the previous zone.
class ScopedTZ {
 public:
  explicit ScopedTZ(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTZ() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(DateTimeTest, EncodeDecodeRoundTripAndKnownSerials) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 3, 1), 36586.0);
  int y, m, d, h, mi, s, ms;
  TDateTime dt = EncodeDateTime(2024, 2, 29, 23, 59, 58, 0);
  DecodeDate(dt, y, m, d);
  DecodeTime(dt, h, mi, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 235958);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_EQ(DateTimeToISO8601(dt), "2024-02-29T23:59:58");
}

TEST(DateTimeTest, DosDateTimeRangeAndTwoSecondResolution) {
  // 1980-01-01 00:00:01 UTC as FILETIME.
  uint64_t ft1980 = static_cast<uint64_t>(FileTimeUnixEpoch) + 315532801ULL * FileTimeTicksPerSecond;
  uint32_t dos = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(ft1980, dos));
  EXPECT_DOUBLE_EQ(FileDateToDateTime(dos), EncodeDate(1980, 1, 1));  // odd second dropped
  EXPECT_FALSE(FileTimeToDosDateTime(ft1980 - 2ULL * FileTimeTicksPerSecond, dos));  // 1979
  uint64_t ft2108 = static_cast<uint64_t>(FileTimeUnixEpoch) + 4354819200ULL * FileTimeTicksPerSecond;
  EXPECT_FALSE(FileTimeToDosDateTime(ft2108, dos));
}

TEST(DateTimeTest, LocalConversionsFollowTheProcessTimeZone) {
  ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");
  TDateTime winter = EncodeDateTime(2021, 1, 15, 12, 0, 0, 0);
  TDateTime summer = EncodeDateTime(2021, 7, 15, 12, 0, 0, 0);
  EXPECT_NEAR(UTCToLocal(winter) - winter, 1.0 / 24, 1e-9);
  EXPECT_NEAR(UTCToLocal(summer) - summer, 2.0 / 24, 1e-9);
  EXPECT_NEAR(LocalToUTC(UTCToLocal(summer)), summer, 1e-9);
  uint64_t ft = static_cast<uint64_t>(FileTimeUnixEpoch) + static_cast<uint64_t>(DateTimeToUnix(winter)) * FileTimeTicksPerSecond;
  uint64_t local = 0;
  ASSERT_TRUE(FileTimeToLocalFileTime(ft, local));
  EXPECT_EQ(local - ft, 3600ULL * FileTimeTicksPerSecond);
}

TEST(DateTimeTest, OutputStampFollowsSourceDateEpoch) {
  const char* saved = std::getenv("SOURCE_DATE_EPOCH");
  const std::string keep = saved ? saved : "";
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  EXPECT_EQ(OutputStampTime(), EncodeDateTime(1970, 1, 2, 0, 0, 0, 0));
  // Not a number of seconds (or not a date): the clock again.
  for (const char* bad : {"", "12x", "-5", "999999999999999"}) {
    setenv("SOURCE_DATE_EPOCH", bad, 1);
    EXPECT_NEAR(OutputStampTime(), Now(), 1.0) << bad;
  }
  if (saved) setenv("SOURCE_DATE_EPOCH", keep.c_str(), 1); else unsetenv("SOURCE_DATE_EPOCH");
}

}  // namespace
}  // namespace lkw
