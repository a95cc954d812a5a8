// Thread-safe broken-down time: gmtime_r/localtime_r, or on Windows their
// _s twins (arguments swapped, an error number returned).
#pragma once

#include <cstdio>
#include <ctime>

inline bool UtcCalendarTime(const std::time_t* seconds, std::tm* out) {
#ifdef _WIN32
  return gmtime_s(out, seconds) == 0;
#else
  return gmtime_r(seconds, out) != nullptr;
#endif
}

inline bool LocalCalendarTime(const std::time_t* seconds, std::tm* out) {
#ifdef _WIN32
  return localtime_s(out, seconds) == 0;
#else
  return localtime_r(seconds, out) != nullptr;
#endif
}

// local's offset from UTC as +hhmm or -hhmm. Windows' strftime writes the
// zone's name for %z, so there the offset is worked out from the two times.
inline void FormatUtcOffset(const std::tm& local, std::time_t seconds, char* out, size_t outSize) {
#ifdef _WIN32
  std::tm utc;
  if (outSize == 0 || !UtcCalendarTime(&seconds, &utc)) return;
  const int dayStep = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                   : local.tm_yday - utc.tm_yday;
  const int minutes = (dayStep * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
  const int magnitude = minutes < 0 ? -minutes : minutes;
  std::snprintf(out, outSize, "%c%02d%02d", minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
#else
  (void)seconds;
  std::strftime(out, outSize, "%z", &local);
#endif
}
