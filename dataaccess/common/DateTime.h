#pragma once
// The date-time value: days since 1899-12-30 as a double, the fraction being
// the time of day. Before day zero the integral part counts days backwards
// while the fraction still counts forwards from midnight (-1.25 is
// 1899-12-29 06:00), which is the convention stored data relies on.

#include <cstdint>
#include <string>
#include <string_view>

namespace da {

using TDateTime = double;

inline constexpr double kHoursPerDay = 24;
inline constexpr double kSecsPerDay = 86400;
inline constexpr int32_t kMSecsPerDay = 86400000;
// Days from 0001-01-01 to 1899-12-30.
inline constexpr int32_t kDateDelta = 693594;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const DateTimeParts&) const = default;
};

// Date as a day number since 0001-01-01 (day 1) and time as milliseconds
// since midnight: the form the dataset layer keeps in record buffers.
struct TTimeStamp {
  int32_t time = 0;
  int32_t date = 0;
};

bool IsValidDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
bool TryEncodeDateTime(const DateTimeParts& parts, TDateTime& out);
// Raise EConvertError on values outside the calendar or the clock.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(const DateTimeParts& parts);

// Rounds to the nearest millisecond before splitting.
DateTimeParts DecodeDateTime(TDateTime value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
int DayOfWeek(TDateTime value);  // 1 = Sunday … 7 = Saturday

TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
double TimeStampToMSecs(const TTimeStamp& ts);
TTimeStamp MSecsToTimeStamp(double msecs);

// 0100-01-01 00:00:00, the smallest value the type represents; it stands for
// MySQL's zero date.
TDateTime MySqlZeroDate();
bool IsMySqlZeroDate(TDateTime value);

// Local clock.
TDateTime Now();    // with milliseconds
TDateTime Today();  // midnight of the current day

}  // namespace da
