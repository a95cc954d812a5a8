// What the flight-loop benchmarks and the soak share: the plug-in's state set up
// as start-up leaves it (datarefs published and resolved, a key and a token,
// the run-loop pump registered), a clock that lets the send gates pass, the
// plug-in's own pump callback, and the service stand-in on the sandbox's
// api.tralix.net.
#pragma once

#include "DevService.h"

#include <memory>
#include <string>

namespace flight_loop_bench {

constexpr char kApiKey[] = "tlx_bench_key";
constexpr char kDataToken[] = "tok_bench_1";
constexpr char kBroadcastPath[] = "/api/v1/data/client/broadcast";

// Outside tools/sandbox/tralix-sandbox, runs this program again inside it
// (api.tralix.net is then 127.0.0.1 and the test CA is trusted). Returns when
// already inside.
void EnterSandbox(int argc, char** argv);

// Serves on 127.0.0.1:443 with the sandbox's certificate and knows kApiKey.
// Exits with a message when that is impossible.
std::unique_ptr<tralix::dev::DevService> StartService();

// Fresh host; core and catalogue datarefs published and resolved; landing
// detection, network state, key and token as after start-up; pump registered.
void SetUpPlugin();
// Puts every gear on the ground (parked) or in the air.
void SetGearOnGround(bool onGround);

// Moves the clock to the first moment both time gates let a broadcast start.
void MoveClockToNextSend();
// One call of the plug-in's flight loop at the current clock.
float RunFlightLoop();
// One call of the plug-in's run-loop pump, as the host makes it every frame.
void RunPumpPass();

// Waits (without spinning) until the network worker has finished the request,
// then runs pump passes (through `pass`) until the completion was delivered.
// Returns false when it was not delivered within the time.
bool CompleteRequest(double timeoutSeconds, void (*pass)() = RunPumpPass);

}  // namespace flight_loop_bench
