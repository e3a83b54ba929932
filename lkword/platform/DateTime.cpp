#include "lkword/platform/DateTime.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 (day 1) in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// Offset of local time from UTC, in seconds, at the UTC instant t.
long LocalOffsetAt(time_t t) {
  struct tm lt {};
  if (!localtime_r(&t, &lt)) return 0;
  return lt.tm_gmtoff;
}

}  // namespace

bool IsValidDate(int Year, int Month, int Day) {
  return Year >= 1 && Year <= 9999 && Month >= 1 && Month <= 12 && Day >= 1 && Day <= DaysInMonth(Year, Month);
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
  if (!IsValidDate(Year, Month, Day)) return false;
  Result = static_cast<double>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day))) + UnixDateDelta;
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999) return false;
  Result = (((Hour * 60.0 + Min) * 60.0 + Sec) * 1000.0 + MSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime r;
  if (!TryEncodeDate(Year, Month, Day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime r;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  return EncodeDate(Year, Month, Day) + EncodeTime(Hour, Min, Sec, MSec);
}

namespace {
// Splits DT into whole days since 1970 and milliseconds of the day, rounding
// to the millisecond as the time fields do.
void SplitDateTime(TDateTime DT, int64_t& days, int64_t& ms) {
  double total = std::round((DT - UnixDateDelta) * MSecsPerDay);
  if (!std::isfinite(total) || std::fabs(total) > 1e17) total = 0;
  auto t = static_cast<int64_t>(total);
  days = t / 86400000;
  ms = t % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
}
}  // namespace

void DecodeDate(TDateTime DT, int& Year, int& Month, int& Day) {
  int64_t days, ms;
  SplitDateTime(DT, days, ms);
  CivilFromDays(days, Year, Month, Day);
}

void DecodeTime(TDateTime DT, int& Hour, int& Min, int& Sec, int& MSec) {
  int64_t days, ms;
  SplitDateTime(DT, days, ms);
  Hour = static_cast<int>(ms / 3600000);
  Min = static_cast<int>(ms / 60000 % 60);
  Sec = static_cast<int>(ms / 1000 % 60);
  MSec = static_cast<int>(ms % 1000);
}

TDateTime UnixToDateTime(int64_t Seconds) { return static_cast<double>(Seconds) / 86400.0 + UnixDateDelta; }

int64_t DateTimeToUnix(TDateTime DT) { return static_cast<int64_t>(std::llround((DT - UnixDateDelta) * 86400.0)); }

TDateTime Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  double utc = UnixToDateTime(ts.tv_sec) + (ts.tv_nsec / 1e6) / MSecsPerDay;
  return utc + static_cast<double>(LocalOffsetAt(ts.tv_sec)) / 86400.0;
}

TDateTime OutputStampTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && *epoch) {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(epoch, &end, 10);
    // Past year 9999 the RTF stamp would not be a date.
    if (errno == 0 && *end == '\0' && seconds >= 0 && seconds < 253402300800LL) return UnixToDateTime(seconds);
  }
  return Now();
}

TDateTime UTCToLocal(TDateTime UTC) {
  time_t t = static_cast<time_t>(DateTimeToUnix(UTC));
  return UTC + static_cast<double>(LocalOffsetAt(t)) / 86400.0;
}

TDateTime LocalToUTC(TDateTime Local) {
  time_t guess = static_cast<time_t>(DateTimeToUnix(Local));
  long off = LocalOffsetAt(guess);
  off = LocalOffsetAt(guess - off);
  return Local - static_cast<double>(off) / 86400.0;
}

bool FileTimeToLocalFileTime(uint64_t FileTime, uint64_t& LocalFileTime) {
  if (FileTime > 0x7FFFFFFFFFFFFFFFULL) return false;
  int64_t secs = (static_cast<int64_t>(FileTime) - FileTimeUnixEpoch) / FileTimeTicksPerSecond;
  int64_t local = static_cast<int64_t>(FileTime) + static_cast<int64_t>(LocalOffsetAt(static_cast<time_t>(secs))) * FileTimeTicksPerSecond;
  if (local < 0) return false;
  LocalFileTime = static_cast<uint64_t>(local);
  return true;
}

bool FileTimeToDosDateTime(uint64_t FileTime, uint32_t& DosDateTime) {
  if (FileTime > 0x7FFFFFFFFFFFFFFFULL) return false;
  int64_t totalSecs = static_cast<int64_t>(FileTime / FileTimeTicksPerSecond) - FileTimeUnixEpoch / FileTimeTicksPerSecond;
  int64_t days = totalSecs >= 0 ? totalSecs / 86400 : (totalSecs - 86399) / 86400;
  int64_t sod = totalSecs - days * 86400;
  int y, m, d;
  CivilFromDays(days, y, m, d);
  if (y < 1980 || y > 2107) return false;
  uint32_t date = static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d);
  uint32_t time = static_cast<uint32_t>(((sod / 3600) << 11) | ((sod / 60 % 60) << 5) | ((sod % 60) / 2));
  DosDateTime = (date << 16) | time;
  return true;
}

TDateTime FileDateToDateTime(uint32_t DosDateTime) {
  uint32_t date = DosDateTime >> 16, time = DosDateTime & 0xFFFF;
  return EncodeDate(static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 15), static_cast<int>(date & 31)) +
         EncodeTime(static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 63), static_cast<int>((time & 31) * 2), 0);
}

std::string DateTimeToISO8601(TDateTime DT, bool DateOnly) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(DT, y, mo, d);
  DecodeTime(DT, h, mi, s, ms);
  char buf[40];
  if (DateOnly)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
  return buf;
}

}  // namespace lkw
