// Player of flight profiles against the headless host.
#include "FlightPlayer.h"

#include "XPHostControl.h"

#include <utility>

namespace flight_profile {

namespace {

// Clock values summed from frame lengths such as 0.1 drift by far less.
constexpr double kDueTolerance = 1e-6;

}  // namespace

void PublishValue(const DataRefDecl& dataref, const Value& value) {
  switch (dataref.type) {
    case ValueType::Float: xphost::SetDataf(dataref.path, value.floats.at(0)); break;
    case ValueType::Int: xphost::SetDatai(dataref.path, value.ints.at(0)); break;
    case ValueType::FloatArray: xphost::SetDatavf(dataref.path, value.floats); break;
    case ValueType::IntArray: xphost::SetDatavi(dataref.path, value.ints); break;
    case ValueType::Bytes: xphost::SetDatab(dataref.path, value.bytes); break;
  }
}

std::string XPlaneMismatch(const Profile& profile) {
  using xphost::XPlaneType;
  for (const DataRefDecl& dataref : profile.datarefs) {
    const xphost::XPlaneDataRef* row = xphost::FindXPlaneDataRef(dataref.path.c_str());
    const std::string where = profile.source + ":" + std::to_string(dataref.line) + ": ";
    if (!row) return where + "X-Plane publishes no dataref " + dataref.path + " that the plug-in reads";
    bool fits = false;
    switch (dataref.type) {
      case ValueType::Float: fits = row->type == XPlaneType::Float || row->type == XPlaneType::Double; break;
      case ValueType::Int: fits = row->type == XPlaneType::Int; break;
      case ValueType::FloatArray: fits = row->type == XPlaneType::FloatArray && dataref.count == row->xp12Size; break;
      case ValueType::IntArray: fits = row->type == XPlaneType::IntArray && dataref.count == row->xp12Size; break;
      case ValueType::Bytes: fits = row->type == XPlaneType::Bytes; break;
    }
    if (!fits)
      return where + "X-Plane 12 publishes " + dataref.path + " as another type than '" + dataref.alias + "' declares";
  }
  return "";
}

Player::Player(Profile profile, double profileStart) : profile_(std::move(profile)), profileStart_(profileStart) {}

int Player::PublishUntil(double hostTime) {
  const double profileTime = hostTime - profileStart_;
  int published = 0;
  for (; nextRow_ < profile_.rows.size(); ++nextRow_) {
    const Row& row = profile_.rows[nextRow_];
    if (row.time > profileTime + kDueTolerance) break;
    for (const Assignment& assignment : row.assignments) {
      PublishValue(profile_.datarefs[static_cast<size_t>(assignment.dataref)], assignment.value);
      ++published;
    }
  }
  return published;
}

void Player::Step(double frameSeconds) {
  PublishUntil(xphost::ElapsedTime() + frameSeconds);
  xphost::RunFrame(frameSeconds);
}

void Player::PlayUntil(double profileTime, double frameSeconds) {
  if (frameSeconds <= 0.0) return;
  for (;;) {
    const double remaining = profileTime - ProfileTime();
    if (remaining <= kDueTolerance) return;
    Step(remaining < frameSeconds ? remaining : frameSeconds);
  }
}

double Player::ProfileTime() const { return xphost::ElapsedTime() - profileStart_; }

}  // namespace flight_profile
