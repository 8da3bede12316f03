#include "common/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "common/Exception.h"

namespace da {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Day number since 0001-01-01 (that day being 1) of a valid date.
int32_t DayNumber(int year, int month, int day) {
  static constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int32_t days = day + kDaysBeforeMonth[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0);
  int32_t y = year - 1;
  return days + y * 365 + y / 4 - y / 100 + y / 400;
}

void SplitDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  // Walks 400-, 100-, 4- and 1-year cycles from 0001-01-01.
  constexpr int32_t kD1 = 365, kD4 = kD1 * 4 + 1, kD100 = kD4 * 25 - 1, kD400 = kD100 * 4 + 1;
  if (dayNumber <= 0) {
    year = month = day = 0;
    return;
  }
  int32_t t = dayNumber - 1;
  int32_t y = 1;
  y += 400 * (t / kD400);
  t %= kD400;
  int32_t i = t / kD100, d = t % kD100;
  if (i == 4) {
    i = 3;
    d += kD100;
  }
  y += i * 100;
  i = d / kD4;
  d %= kD4;
  y += i * 4;
  i = d / kD1;
  d %= kD1;
  if (i == 4) {
    i = 3;
    d += kD1;
  }
  y += i;
  int m = 1;
  while (d >= DaysInMonth(y, m)) d -= DaysInMonth(y, m++);
  year = y;
  month = m;
  day = d + 1;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (!IsValidDate(year, month, day)) return false;
  out = static_cast<double>(DayNumber(year, month, day) - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

bool TryEncodeDateTime(const DateTimeParts& p, TDateTime& out) {
  TDateTime date, time;
  if (!TryEncodeDate(p.year, p.month, p.day, date) ||
      !TryEncodeTime(p.hour, p.minute, p.second, p.millisecond, time))
    return false;
  out = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime out;
  if (!TryEncodeDate(year, month, day, out)) throw EConvertError("Invalid argument to date encode");
  return out;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime out;
  if (!TryEncodeTime(hour, minute, second, msec, out)) throw EConvertError("Invalid argument to time encode");
  return out;
}

TDateTime EncodeDateTime(const DateTimeParts& parts) {
  TDateTime out;
  if (!TryEncodeDateTime(parts, out)) throw EConvertError("Invalid argument to date encode");
  return out;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  int64_t ms = std::llround(value * kMSecsPerDay);
  TTimeStamp ts;
  // Integral days truncate towards zero; the time of day is the magnitude of
  // the fraction, as the value's convention says.
  ts.date = static_cast<int32_t>(kDateDelta + ms / kMSecsPerDay);
  ts.time = static_cast<int32_t>((ms < 0 ? -ms : ms) % kMSecsPerDay);
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
  double days = ts.date - kDateDelta;
  double time = static_cast<double>(ts.time) / kMSecsPerDay;
  return days >= 0 ? days + time : days - time;
}

double TimeStampToMSecs(const TTimeStamp& ts) {
  return static_cast<double>(ts.date) * kMSecsPerDay + ts.time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  TTimeStamp ts;
  ts.date = static_cast<int32_t>(std::floor(msecs / kMSecsPerDay));
  ts.time = static_cast<int32_t>(msecs - static_cast<double>(ts.date) * kMSecsPerDay);
  return ts;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  TTimeStamp ts = DateTimeToTimeStamp(value);
  DateTimeParts p;
  SplitDayNumber(ts.date, p.year, p.month, p.day);
  int32_t t = ts.time;
  p.hour = t / 3600000;
  t %= 3600000;
  p.minute = t / 60000;
  t %= 60000;
  p.second = t / 1000;
  p.millisecond = t % 1000;
  return p;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  DateTimeParts p = DecodeDateTime(value);
  year = p.year;
  month = p.month;
  day = p.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  DateTimeParts p = DecodeDateTime(value);
  hour = p.hour;
  minute = p.minute;
  second = p.second;
  msec = p.millisecond;
}

int DayOfWeek(TDateTime value) {
  int32_t d = DateTimeToTimeStamp(value).date;  // day 1 (0001-01-01) was a Monday
  return static_cast<int>(d % 7) + 1;
}

TDateTime MySqlZeroDate() { return EncodeDate(100, 1, 1); }

bool IsMySqlZeroDate(TDateTime value) { return value == MySqlZeroDate(); }

TDateTime Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t secs = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&secs, &local);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec > 59 ? 59 : local.tm_sec, ms < 0 ? 0 : ms});
}

TDateTime Today() { return std::trunc(Now()); }

}  // namespace da
