// tralix-sim's command line: the help text and the option parser.
#include "SimOptions.h"

#include "FlightProfile.h"
#include "TextUtil.h"

#include <functional>

namespace tralix_sim {
namespace {

// "T:COUNT:KIND", KIND an HTTP status, "drop" or "delay=MS".
bool ParseFault(const std::string& text, ServiceFault* fault, std::string* error) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  *error = "--fault takes TIME:COUNT:KIND, KIND an HTTP status, drop or delay=MS (e.g. 60:8:500): '" + text + "'";
  if (second == std::string::npos) return false;
  if (!ParseDecimal(text.substr(0, first), &fault->time) || fault->time < 0.0) return false;
  if (!ParseWholeNumber(text.substr(first + 1, second - first - 1), &fault->count) || fault->count < 1) return false;
  const std::string kind = text.substr(second + 1);
  if (kind == "drop") {
    fault->drop = true;
  } else if (StartsWith(kind, "delay=")) {
    if (!ParseWholeNumber(kind.substr(6), &fault->delayMs) || fault->delayMs < 0 || fault->delayMs > 600000)
      return false;
  } else if (!ParseWholeNumber(kind, &fault->status) || fault->status < 100 || fault->status > 599) {
    return false;
  }
  fault->text = text;
  return true;
}

// Far beyond any hand-written script.
constexpr size_t kMaxScriptBytes = 1u << 20;

bool ReadScriptFile(const std::string& path, std::vector<PilotAction>* actions, std::string* error) {
  std::string text;
  if (!flight_profile::ReadWholeFile(path, kMaxScriptBytes, &text, error)) {
    *error = "--script: " + *error;
    return false;
  }
  return ParseScript(text, path, actions, error);
}

struct Range {
  double low;
  double high;
  const char* text;  // as the error names it
};

// Bounds that keep every sleep and frame count sane.
constexpr Range kSpeedRange{0.01, 10000.0, "0.01 to 10000"};
constexpr Range kFrameRange{0.001, 1.0, "0.001 to 1"};
constexpr Range kUntilRange{0.001, 1e7, "0.001 to 10000000"};

bool ParseInRange(const std::string& option, const std::string& value, const Range& range, double* out,
                  std::string* error) {
  double parsed = 0.0;
  if (ParseDecimal(value, &parsed) && parsed >= range.low && parsed <= range.high) {
    *out = parsed;
    return true;
  }
  *error = option + " takes a number from " + range.text + ", got '" + value + "'";
  return false;
}

// Tralix.cfg holds one KEY=value per line.
bool CheckConfigValue(const std::string& option, const std::string& value, std::string* error) {
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) {
      *error = option + " may not hold control characters or line breaks";
      return false;
    }
  }
  if (value.size() <= 255) return true;
  *error = option + " is longer than the plug-in's 255 characters";
  return false;
}

using Handler = std::function<bool(SimOptions*, const std::string&, std::string*)>;

struct OptionSpec {
  const char* name;
  bool takesValue;
  Handler handle;
};

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = {
      {"--plugin", true, [](SimOptions* o, const std::string& v, std::string*) { o->pluginPath = v; return true; }},
      {"--out", true, [](SimOptions* o, const std::string& v, std::string*) { o->outDir = v; return true; }},
      {"--xplane", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         if (v == "11" || v == "12") {
           o->xplaneVersion = v == "11" ? 11 : 12;
           return true;
         }
         *e = "--xplane takes 11 or 12, got '" + v + "'";
         return false;
       }},
      {"--api-key", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         o->apiKey = v;
         o->apiKeyGiven = true;
         return CheckConfigValue("--api-key", v, e);
       }},
      {"--token", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         o->token = v;
         return CheckConfigValue("--token", v, e);
       }},
      {"--no-config", false,
       [](SimOptions* o, const std::string&, std::string*) {
         o->writeConfig = false;
         return true;
       }},
      {"--speed", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         return ParseInRange("--speed", v, kSpeedRange, &o->speed, e);
       }},
      {"--realtime", false, [](SimOptions* o, const std::string&, std::string*) { o->speed = 1.0; return true; }},
      {"--frame", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         return ParseInRange("--frame", v, kFrameRange, &o->frameSeconds, e);
       }},
      {"--until", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         return ParseInRange("--until", v, kUntilRange, &o->untilTime, e);
       }},
      {"--service", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         std::string host;
         int port = 0;
         o->serviceAddress = v;
         if (SplitHostPort(v, &host, &port)) return true;
         *e = "--service takes HOST[:PORT], got '" + v + "'";
         return false;
       }},
      {"--ca", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         o->caFile = v;
         std::string unused;
         if (flight_profile::ReadWholeFile(v, kMaxCaBytes, &unused, e)) return true;
         *e = "--ca: " + *e;
         return false;
       }},
      {"--service-key", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         if (!v.empty() && v[0] != '=') {
           o->serviceKeys.push_back(v);
           return true;
         }
         *e = "--service-key takes KEY[=TOKEN]";
         return false;
       }},
      {"--fault", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         ServiceFault fault;
         if (!ParseFault(v, &fault, e)) return false;
         o->faults.push_back(fault);
         return true;
       }},
      {"--record", true, [](SimOptions* o, const std::string& v, std::string*) { o->recordFile = v; return true; }},
      {"--script", true,
       [](SimOptions* o, const std::string& v, std::string* e) { return ReadScriptFile(v, &o->actions, e); }},
      {"--action", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         PilotAction action;
         std::string why;
         if (ParseAction(v, &action, &why)) {
           o->actions.push_back(action);
           return true;
         }
         *e = "--action: " + why;
         return false;
       }},
      {"--no-status-window", false,
       [](SimOptions* o, const std::string&, std::string*) { o->statusWindow = false; return true; }},
      {"--no-sandbox", false, [](SimOptions* o, const std::string&, std::string*) { o->sandbox = false; return true; }},
      {"--verbose", false, [](SimOptions* o, const std::string&, std::string*) { o->verbose = true; return true; }},
      {"--expect-landings", true,
       [](SimOptions* o, const std::string& v, std::string* e) {
         if (ParseWholeNumber(v, &o->expectLandings) && o->expectLandings >= 0) return true;
         *e = "--expect-landings takes a whole number, 0 or more";
         return false;
       }},
  };
  return table;
}

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& wanted : OptionTable())
    if (name == wanted.name) return &wanted;
  return nullptr;
}

bool CheckCombination(const SimOptions& options, std::string* error) {
  const bool external = !options.serviceAddress.empty();
  if (external && (!options.serviceKeys.empty() || !options.faults.empty() || !options.recordFile.empty())) {
    *error = "--service-key, --fault and --record shape the embedded service; they do not go with --service";
    return false;
  }
  if (!options.caFile.empty() && !external) {
    *error = "--ca goes with --service (the embedded service uses the sandbox's test CA)";
    return false;
  }
  if (!options.writeConfig && (options.apiKeyGiven || !options.token.empty())) {
    *error = "--no-config does not go with --api-key or --token";
    return false;
  }
  if (!options.token.empty() && !options.apiKeyGiven && external) {
    *error = "--token needs --api-key with --service";
    return false;
  }
  return true;
}

}  // namespace

bool SplitHostPort(const std::string& address, std::string* host, int* port) {
  *port = 443;
  std::string name = address;
  const size_t colon = address.rfind(':');
  const bool bracketed = !address.empty() && address[0] == '[';
  if (bracketed) {
    const size_t close = address.find(']');
    if (close == std::string::npos) return false;
    name = address.substr(1, close - 1);
    const std::string rest = address.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || !ParseWholeNumber(rest.substr(1), port))) return false;
  } else if (colon != address.find(':')) {
    return false;  // an IPv6 address goes in brackets
  } else if (colon != std::string::npos) {
    name = address.substr(0, colon);
    if (!ParseWholeNumber(address.substr(colon + 1), port)) return false;
  }
  *host = name;
  return !name.empty() && *port >= 1 && *port <= 65535 && name.find_first_of(" \t/") == std::string::npos;
}

ParseOutcome ParseOptions(const std::vector<std::string>& arguments, SimOptions* options, std::string* error) {
  for (size_t index = 0; index < arguments.size(); ++index) {
    std::string name = arguments[index];
    if (name == "--help" || name == "-h") return ParseOutcome::kHelp;
    if (name.empty() || name[0] != '-' || name == "-") {
      if (!options->profilePath.empty()) {
        *error = "one flight profile only: '" + options->profilePath + "' and '" + name + "'";
        return ParseOutcome::kError;
      }
      options->profilePath = name;
      continue;
    }
    std::string value;
    bool valueInline = false;
    const size_t equals = name.find('=');
    if (StartsWith(name, "--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      valueInline = true;
    }
    const OptionSpec* wanted = FindOption(name);
    if (!wanted) {
      *error = "unknown option " + name + " (see --help)";
      return ParseOutcome::kError;
    }
    if (wanted->takesValue && !valueInline) {
      if (index + 1 >= arguments.size()) {
        *error = name + " needs a value (see --help)";
        return ParseOutcome::kError;
      }
      value = arguments[++index];
    } else if (!wanted->takesValue && valueInline) {
      *error = name + " takes no value";
      return ParseOutcome::kError;
    }
    if (!wanted->handle(options, value, error)) return ParseOutcome::kError;
  }
  if (options->profilePath.empty()) {
    *error = "no flight profile given (e.g. flights/demo.flight; see --help)";
    return ParseOutcome::kError;
  }
  return CheckCombination(*options, error) ? ParseOutcome::kRun : ParseOutcome::kError;
}

std::string HelpText() {
  return std::string(
             "Usage: tralix-sim [options] PROFILE\n"
             "\n"
             "Flies the built Tralix plug-in (Tralix.xpl) in the headless simulator host\n"
             "through a recorded flight profile (flights/README.md gives the format), against\n"
             "the embedded Tralix service stand-in or a service you name, over HTTPS to the\n"
             "plug-in's built-in https://api.tralix.net/api/v1 with certificates verified.\n"
             "Writes the simulator-style Log.txt and ends with a summary: broadcasts sent and\n"
             "accepted, connection failures and back-off, and each landing event with its\n"
             "touchdown values and ten points (a table here, an SVG chart in the output folder).\n"
             "\n"
             "Plug-in and output:\n"
             "  --plugin FILE          plug-in binary to load (default: the build's\n"
             "                         Tralix/lin_x64/Tralix.xpl)\n"
             "  --out DIR              output folder (default tralix-sim-out). The plug-in is\n"
             "                         copied to DIR/Tralix/lin_x64/ with its Tralix.cfg;\n"
             "                         Log.txt and landing-N.svg go to DIR.\n"
         "  --xplane 11|12         the simulator whose datarefs the host publishes, with\n"
         "                         their types and sizes there (default 12); X-Plane 11\n"
         "                         lacks the display name and the wind at the aircraft\n"
             "  --api-key KEY          write Tralix.cfg with this key and no token, so the\n"
             "                         plug-in activates it at start-up (default with the\n"
             "                         embedded service: its demo key ") +
         kDemoApiKey +
         ")\n"
         "  --token TOKEN          store this data token too: no start-up activation\n"
         "  --no-config            write no Tralix.cfg; the plug-in creates its default\n"
         "                         (no key), e.g. to script the first set-up in the dialog\n"
         "\n"
         "Clock:\n"
         "  --speed X              sim seconds per wall second (default 40). Frames run\n"
         "                         against the wall clock, so network round trips take\n"
         "                         their real time between them.\n"
         "  --realtime             the same as --speed 1\n"
         "  --frame SECONDS        sim time per frame (default 0.0333, 1/30 s)\n"
         "  --until SECONDS        stop at this profile time instead of the profile's end\n"
         "\n"
         "Service (default: the embedded stand-in on 127.0.0.1:443, which the sandbox\n"
         "names api.tralix.net, with the sandbox's certificate):\n"
         "  --service HOST[:PORT]  use this service instead (port 443 when none is given).\n"
         "                         The plug-in still calls api.tralix.net:443; inside the\n"
         "                         sandbox that connection is relayed to HOST:PORT, so the\n"
         "                         service's certificate must be valid for api.tralix.net.\n"
         "  --ca FILE              with --service: trust this CA certificate (PEM) as well\n"
         "                         as the system's\n"
         "  --service-key KEY[=TOKEN]  embedded service: accept this API key (repeatable;\n"
         "                         default " +
         std::string(kDemoApiKey) + "=" + kDemoToken +
         ")\n"
         "  --fault TIME:COUNT:KIND  embedded service: from profile time TIME, the next\n"
         "                         COUNT broadcasts get KIND: an HTTP status (500), drop\n"
         "                         (connection closed unanswered) or delay=MS (repeatable)\n"
         "  --record FILE          embedded service: append every request as a JSON line\n"
         "\n"
         "Pilot (actions run in time order, between frames):\n"
         "  --script FILE          one action per line: TIME ACTION [ARGUMENT]; # comments\n"
         "  --action 'TIME ACTION [ARGUMENT]'  one action (repeatable)\n"
         "      menu PATH          pick a menu item under Plugins: menu Tralix/Configuration\n"
         "      type TEXT          type TEXT into the API key field, key by key\n"
         "      key KEY            one key stroke in the API key field: a character,\n"
         "                         return, escape, tab, backspace, left, right, space,\n"
         "                         with ctrl+, shift+ or alt+ before it (key ctrl+v)\n"
         "      clipboard TEXT     put TEXT on the clipboard the plug-in reads\n"
         "      paste [TEXT]       (put TEXT on the clipboard, then) Ctrl+V in the key field\n"
         "      press CAPTION      click the dialog button with this caption:\n"
         "                         press Activate API Key\n"
         "      close              click the dialog's close box\n"
         "    An argument may be put in double quotes to keep blanks at its ends.\n"
         "  --no-status-window     do not open the Connection Status window at start (it is\n"
         "                         opened, as a pilot would, to read the back-off it shows)\n"
         "\n"
         "Running:\n"
         "  --no-sandbox           run as is: the system's resolver and trust store decide\n"
         "                         where api.tralix.net is. By default tralix-sim re-runs\n"
         "                         itself inside tools/sandbox/tralix-sandbox (private\n"
         "                         network and mount namespaces) unless TRALIX_SANDBOX is\n"
         "                         set; TRALIX_SANDBOX_SCRIPT names the script elsewhere.\n"
         "  --verbose              echo the plug-in's log lines, stamped with sim time\n"
         "  --expect-landings N    exit 3 unless exactly N landing events were accepted\n"
         "  --help                 show this text\n"
         "\n"
         "Exit status: 0 when the flight was flown, 1 when it could not be (plug-in, profile\n"
         "or service trouble), 2 for a bad command line, 3 for --expect-landings unmet,\n"
         "4 when a pilot action could not be done (each is named on stderr).\n";
}

}  // namespace tralix_sim
