// The end-of-run report: a few labelled lines, then each landing event as a
// table of its ten points; the same points as an SVG chart per event.
#include "Summary.h"

#include "TextUtil.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tralix_sim {
namespace {

constexpr int kLabelWidth = 12;

std::ostream& Label(std::ostream& out, const std::string& label) {
  return out << std::left << std::setw(kLabelWidth) << label << std::right;
}

std::string Continuation() { return std::string(kLabelWidth, ' '); }

// "1 touchdown", "2 touchdowns".
std::string Counted(long count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void PrintFlight(std::ostream& out, const RunFacts& facts) {
  const double ratio = facts.wallSeconds > 0.0 ? facts.simSeconds / facts.wallSeconds : 0.0;
  Label(out, "Flight") << facts.profile << ": " << Fixed(facts.simSeconds, 1) << " s of sim time in "
                       << Fixed(facts.wallSeconds, 1) << " s of wall time (" << Fixed(ratio, 0) << "x), "
                       << facts.frames << " frames" << (facts.interrupted ? "; interrupted" : "") << "\n";
  Label(out, "Plug-in") << facts.pluginPath << "\n";
  Label(out, "Log") << facts.logPath << "\n";
}

void PrintActivations(std::ostream& out, const FlightRecord& record) {
  if (record.Activations().empty()) {
    Label(out, "Activation") << "none logged\n";
    return;
  }
  bool first = true;
  for (const std::string& activation : record.Activations()) {
    (first ? Label(out, "Activation") : out << Continuation()) << activation << "\n";
    first = false;
  }
}

void PrintActions(std::ostream& out, const RunFacts& facts) {
  if (facts.actionReports.empty()) return;
  Label(out, "Pilot") << facts.actionReports.size() << " actions, "
                      << (facts.actionsFailed.empty() ? std::string("all done")
                                                      : std::to_string(facts.actionsFailed.size()) + " could not be done")
                      << "\n";
  for (const std::string& report : facts.actionReports) out << Continuation() << report << "\n";
}

void PrintBroadcasts(std::ostream& out, const ServiceTally& service, const FlightRecord& record) {
  Label(out, "Broadcasts") << record.BroadcastsStarted() << " sent";
  if (service.embedded) {
    out << ", " << service.broadcastsOk << " accepted by the service (" << service.broadcasts << " received)";
  } else {
    out << "; " << record.Answered2xx() << " requests answered 2xx (broadcasts and landing events together:"
        << " the log does not tell them apart)";
  }
  out << "\n";
  if (record.BroadcastsNotStarted() > 0)
    out << Continuation() << record.BroadcastsNotStarted()
        << " flight-loop cycles could not send (no data token, or the request could not be built)\n";
}

// The first broadcast after takeoff: each value as sent beside the dataref it
// comes from, as the simulator published it then.
void PrintTakeoffBroadcast(std::ostream& out, const RunFacts& facts) {
  if (!facts.takeoffBroadcast) return;
  Label(out, "Takeoff") << "first broadcast after takeoff (#" << facts.takeoffBroadcast->ordinal << ", at "
                        << Fixed(facts.takeoffBroadcast->simTime, 1) << " s), X-Plane " << facts.xplaneVersion
                        << " datarefs";
  if (facts.takeoffValues.empty()) {
    out << ": the service's copy is not at hand\n";
    return;
  }
  out << "; sent, and what the simulator published:\n";
  for (const SentBesidePublished& line : facts.takeoffValues)
    out << Continuation() << "  " << std::left << std::setw(27) << line.name << std::setw(18) << line.sent
        << std::right << " " << line.published << "\n";
}

void PrintFailures(std::ostream& out, const FlightRecord& record) {
  if (record.FailureCount() == 0) {
    Label(out, "Failures") << "no connection failures\n";
  } else {
    Label(out, "Failures") << record.FailureCount() << " connection failures, at most "
                           << record.LongestFailureStreak() << " in a row\n";
    for (const auto& failure : record.Failures())
      out << Continuation() << failure.second << " x " << failure.first << "\n";
  }
  double longest = 0.0;
  for (const BackoffChange& change : record.BackoffChanges()) longest = std::max(longest, change.seconds);
  if (!record.StatusWindowSeen()) {
    Label(out, "Back-off") << "not watched (the Connection Status window was not open with a token set)\n";
  } else if (longest == 0.0) {
    Label(out, "Back-off") << "none (the Connection Status window showed 0.0 s throughout)\n";
  } else {
    Label(out, "Back-off") << "up to " << Fixed(longest, 1) << " s, as the Connection Status window showed it:\n";
    const auto& changes = record.BackoffChanges();
    for (auto change = changes.begin() + (changes.front().seconds == 0.0 ? 1 : 0); change != changes.end(); ++change)
      out << Continuation() << "  " << Fixed(change->seconds, 1) << " s from " << Fixed(change->simTime, 1) << " s\n";
  }
  out << Continuation() << "longest pause between two broadcasts: " << Fixed(record.LongestBroadcastGap(), 1)
      << " s of sim time\n";
}

void PrintService(std::ostream& out, const ServiceTally& service) {
  Label(out, "Service") << service.description << "\n";
  if (!service.embedded) return;
  out << Continuation() << "received: activation " << service.activations << " (" << service.activationsOk
      << " ok), broadcast " << service.broadcasts << " (" << service.broadcastsOk << " ok), landing event "
      << service.events << " (" << service.eventsOk << " ok)\n";
  for (const auto& verdict : service.otherVerdicts)
    out << Continuation() << verdict.second << " answered " << verdict.first << "\n";
}

void PrintPointTable(std::ostream& out, const std::vector<LandingPoint>& points) {
  out << "        #   height ft   g-force   v/s ft/min   bank deg\n";
  int number = 0;
  for (const LandingPoint& point : points) {
    out << "     " << std::setw(4) << ++number << std::setw(12) << Fixed(point[0], 2) << std::setw(10)
        << Fixed(point[1], 3) << std::setw(13) << Fixed(point[2], 1) << std::setw(11) << Fixed(point[3], 0) << "\n";
  }
}

// "-150.0000000000" -> "-150.0"; text that is no number stays as it is.
std::string Rounded(const std::string& text) {
  double value = 0.0;
  return ParseDecimal(text, &value) ? Fixed(value, 1) : text;
}

std::string TouchdownText(const LandingEvent& event) {
  if (!event.received) return Fixed(event.touchdownHeight, 1) + " ft above ground";
  return Rounded(event.verticalSpeedText) + " ft/min, " + Rounded(event.altitudeText) + " ft above ground";
}

void PrintLanding(std::ostream& out, const LandingEvent& event, int number, const std::string& chart) {
  out << "  #" << number << " touchdown seen at " << Fixed(event.simTime, 1) << " s: " << TouchdownText(event)
      << ", flight time " << Fixed(event.flightTime, 1) << " s\n";
  out << "     " << event.outcome;
  if (event.received) {
    out << "; the service answered " << event.status << " to verticalSpeed \"" << event.verticalSpeedText
        << "\", altitude \"" << event.altitudeText << "\"\n     and these points, oldest first:\n";
  } else {
    out << "; the points the plug-in logged, oldest first:\n";
  }
  PrintPointTable(out, ShownPoints(event));
  if (!chart.empty()) out << "     chart: " << chart << "\n";
}

void PrintLandings(std::ostream& out, const FlightRecord& record, const std::vector<std::string>& charts) {
  const auto& landings = record.Landings();
  const long sent = std::count_if(landings.begin(), landings.end(), [](const auto& l) { return l.handedOver; });
  Label(out, "Landings") << Counted(static_cast<long>(landings.size()), "touchdown") << " seen by the plug-in, "
                         << Counted(sent, "landing event") << " sent\n";
  for (size_t index = 0; index < landings.size(); ++index)
    PrintLanding(out, landings[index], static_cast<int>(index) + 1, index < charts.size() ? charts[index] : "");
}

// ---- chart ------------------------------------------------------------------

struct Series {
  const char* title;
  const char* unit;
  int column;
  const char* colour;
};

constexpr Series kSeries[] = {
    {"Height above ground", "ft", 0, "#1f77b4"},
    {"Vertical speed", "ft/min", 2, "#d62728"},
    {"Load factor", "g", 1, "#2ca02c"},
    {"Bank", "deg", 3, "#9467bd"},
};

constexpr int kPanelWidth = 340;
constexpr int kPanelHeight = 200;
constexpr int kMargin = 40;

std::string EscapeXml(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '<') escaped += "&lt;";
    else if (c == '>') escaped += "&gt;";
    else if (c == '&') escaped += "&amp;";
    else if (c == '"') escaped += "&quot;";
    else escaped += c;
  }
  return escaped;
}

// Where the points lie along the x axis: seconds before touchdown (negative),
// so that uneven sample spacing shows; their order when times are unknown.
struct TimeAxis {
  std::vector<double> positions;
  bool timed = false;
};

TimeAxis TimeAxisOf(const LandingEvent& event) {
  const std::vector<LandingPoint>& points = ShownPoints(event);
  TimeAxis axis;
  axis.timed = !points.empty() && points.size() == event.pointTimes.size();
  for (size_t index = 0; index < points.size(); ++index)
    axis.positions.push_back(axis.timed ? event.pointTimes[index] - event.simTime : static_cast<double>(index + 1));
  return axis;
}

std::string AxisText(const TimeAxis& axis, double position) {
  return axis.timed ? Fixed(position, 2) + " s" : Fixed(position, 0);
}

void DrawPanel(std::ostream& svg, const Series& series, const std::vector<LandingPoint>& points, const TimeAxis& axis,
               int left, int top) {
  double low = points.empty() ? 0.0 : points[0][series.column];
  double high = low;
  for (const LandingPoint& point : points) {
    low = std::min(low, point[series.column]);
    high = std::max(high, point[series.column]);
  }
  if (high - low < 1e-9) {
    low -= 1.0;
    high += 1.0;
  }
  const int plotLeft = left + kMargin + 20;
  const int plotTop = top + 30;
  const int plotWidth = kPanelWidth - kMargin - 50;
  const int plotHeight = kPanelHeight - 60;
  svg << "<text x=\"" << left + 10 << "\" y=\"" << top + 18 << "\" font-size=\"13\">" << series.title << " ("
      << series.unit << ")</text>\n";
  svg << "<rect x=\"" << plotLeft << "\" y=\"" << plotTop << "\" width=\"" << plotWidth << "\" height=\""
      << plotHeight << "\" fill=\"none\" stroke=\"#ccc\"/>\n";
  svg << "<text x=\"" << plotLeft - 4 << "\" y=\"" << plotTop + 4 << "\" font-size=\"10\" text-anchor=\"end\">"
      << Fixed(high, 1) << "</text>\n";
  svg << "<text x=\"" << plotLeft - 4 << "\" y=\"" << plotTop + plotHeight << "\" font-size=\"10\" "
      << "text-anchor=\"end\">" << Fixed(low, 1) << "</text>\n";
  const double first = axis.positions.empty() ? 0.0 : axis.positions.front();
  const double span = axis.positions.empty() ? 0.0 : axis.positions.back() - first;
  auto xOf = [&](double position) {
    return span > 1e-9 ? plotLeft + plotWidth * (position - first) / span : plotLeft + plotWidth / 2.0;
  };
  std::ostringstream polyline;
  std::ostringstream dots;
  for (size_t index = 0; index < points.size(); ++index) {
    const double x = xOf(axis.positions[index]);
    const double y = plotTop + plotHeight * (high - points[index][series.column]) / (high - low);
    polyline << Fixed(x, 1) << "," << Fixed(y, 1) << " ";
    dots << "<circle cx=\"" << Fixed(x, 1) << "\" cy=\"" << Fixed(y, 1) << "\" r=\"3\" fill=\"" << series.colour
         << "\"><title>point " << index + 1 << " at " << AxisText(axis, axis.positions[index]) << ": "
         << Fixed(points[index][series.column], 2) << " " << series.unit << "</title></circle>\n";
  }
  svg << "<polyline points=\"" << polyline.str() << "\" fill=\"none\" stroke=\"" << series.colour
      << "\" stroke-width=\"2\"/>\n"
      << dots.str();
  if (points.empty()) return;
  const int labelY = plotTop + plotHeight + 14;
  svg << "<text x=\"" << plotLeft << "\" y=\"" << labelY << "\" font-size=\"10\" text-anchor=\"start\">"
      << AxisText(axis, first) << "</text>\n";
  svg << "<text x=\"" << plotLeft + plotWidth << "\" y=\"" << labelY << "\" font-size=\"10\" text-anchor=\"end\">"
      << AxisText(axis, first + span) << "</text>\n";
  svg << "<text x=\"" << plotLeft + plotWidth / 2 << "\" y=\"" << labelY << "\" font-size=\"10\" "
      << "text-anchor=\"middle\">" << (axis.timed ? "time to touchdown" : "sample") << "</text>\n";
}

}  // namespace

const std::vector<LandingPoint>& ShownPoints(const LandingEvent& event) {
  return event.received ? event.receivedPoints : event.points;
}

void PrintSummary(std::ostream& out, const RunFacts& facts, const ServiceTally& service, const FlightRecord& record,
                  const std::vector<std::string>& chartFiles) {
  out << "\n== tralix-sim summary ==\n";
  PrintFlight(out, facts);
  PrintService(out, service);
  PrintActivations(out, record);
  PrintActions(out, facts);
  PrintBroadcasts(out, service, record);
  PrintTakeoffBroadcast(out, facts);
  PrintFailures(out, record);
  if (facts.requestsLeftInFlight > 0)
    out << Continuation() << facts.requestsLeftInFlight << " requests were still in flight at the end\n";
  PrintLandings(out, record, chartFiles);
}

std::string LandingChartSvg(const LandingEvent& event, int number) {
  const int width = 2 * kPanelWidth + 20;
  const int height = 2 * kPanelHeight + 70;
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  const std::string heading = "Landing event " + std::to_string(number) + ": touchdown " + TouchdownText(event) +
                              " at " + Fixed(event.simTime, 1) + " s";
  svg << "<text x=\"10\" y=\"22\" font-size=\"15\" font-weight=\"bold\">" << EscapeXml(heading) << "</text>\n";
  svg << "<text x=\"10\" y=\"40\" font-size=\"12\">The samples the plug-in took before it, placed by their time"
      << " before touchdown</text>\n";
  const std::vector<LandingPoint>& points = ShownPoints(event);
  const TimeAxis axis = TimeAxisOf(event);
  for (int panel = 0; panel < 4; ++panel)
    DrawPanel(svg, kSeries[panel], points, axis, 10 + (panel % 2) * kPanelWidth, 50 + (panel / 2) * kPanelHeight);
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace tralix_sim
