// TDateTime (days since 1899-12-30) helpers, UTC/local conversion through the
// process time zone (TZ), FILETIME and packed DOS date-time conversions.
#pragma once

#include <cstdint>
#include <string>

#include "lkword/platform/Types.h"

namespace lkw {

constexpr double MSecsPerDay = 86400000.0;
constexpr int64_t FileTimeTicksPerSecond = 10000000;
// FILETIME ticks (100 ns) from 1601-01-01 to 1970-01-01.
constexpr int64_t FileTimeUnixEpoch = 116444736000000000LL;
// Days from 1899-12-30 to 1970-01-01.
constexpr double UnixDateDelta = 25569.0;

bool IsValidDate(int Year, int Month, int Day);
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);
// EConvertError "Invalid argument to date encode" on a bad date.
TDateTime EncodeDate(int Year, int Month, int Day);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);
void DecodeDate(TDateTime DT, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime DT, int& Hour, int& Min, int& Sec, int& MSec);

// Seconds since the Unix epoch (UTC) <-> TDateTime of the same instant in UTC.
TDateTime UnixToDateTime(int64_t Seconds);
int64_t DateTimeToUnix(TDateTime DT);

// Local time of the process time zone.
TDateTime Now();
// The time output is stamped with: SOURCE_DATE_EPOCH (UTC) when it is set, so
// that the same input gives the same bytes, else Now().
TDateTime OutputStampTime();
TDateTime UTCToLocal(TDateTime UTC);
TDateTime LocalToUTC(TDateTime Local);

// FILETIME conversions; false when the value cannot be represented.
bool FileTimeToLocalFileTime(uint64_t FileTime, uint64_t& LocalFileTime);
// Packs a FILETIME (read as calendar time) into DOS date (high word) and
// time (low word); false outside 1980..2107.
bool FileTimeToDosDateTime(uint64_t FileTime, uint32_t& DosDateTime);
// Unpacks a DOS date-time; EConvertError on an invalid date.
TDateTime FileDateToDateTime(uint32_t DosDateTime);

// "YYYY-MM-DDTHH:MM:SS" (local, no zone); a date with no time of day gives
// "YYYY-MM-DD" only when DateOnly is set.
std::string DateTimeToISO8601(TDateTime DT, bool DateOnly = false);

}  // namespace lkw
