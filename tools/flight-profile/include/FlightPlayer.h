// Plays a flight profile into the headless host: before each frame it
// publishes the values that are due at the frame's clock time, so the flight
// loops of that frame see the profile's state at that moment.
#pragma once

#include "FlightProfile.h"

#include <cstddef>
#include <string>

namespace flight_profile {

// Publishes one value under the dataref's path through the host's control API.
void PublishValue(const DataRefDecl& dataref, const Value& value);

// Empty when every dataref the profile declares is one of XPlaneDataRefs.h,
// declared with the type and size X-Plane 12 gives it (a double as float);
// else "<source>:<line>: <what is wrong>" for the first that is not.
std::string XPlaneMismatch(const Profile& profile);

class Player {
 public:
  // profileStart: the host clock value (xphost::ElapsedTime) at which the
  // profile's time 0 falls.
  explicit Player(Profile profile, double profileStart = 0.0);

  // Publishes, in order, every row due by the given host clock value that has
  // not been published yet. Rows within a microsecond of it count as due, so
  // that a clock summed from decimal frame lengths does not miss a row.
  // Returns how many values were published.
  int PublishUntil(double hostTime);

  // Publishes what is due at the end of the frame, then runs the frame.
  void Step(double frameSeconds);

  // Runs frames of frameSeconds until the profile's clock reaches profileTime;
  // the last frame is shortened to land on it.
  void PlayUntil(double profileTime, double frameSeconds);
  void PlayToEnd(double frameSeconds) { PlayUntil(profile_.endTime, frameSeconds); }

  double ProfileTime() const;  // host clock minus profile start
  bool AllRowsPublished() const { return nextRow_ >= profile_.rows.size(); }
  const Profile& profile() const { return profile_; }

 private:
  Profile profile_;
  double profileStart_;
  size_t nextRow_ = 0;
};

}  // namespace flight_profile
