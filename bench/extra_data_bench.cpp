// One BuildExtraDataJSON call with the full catalogue, as every broadcast makes
// it: a typical airborne state, and every value at its longest.
#include "DataRefs.h"
#include "NetworkManager.h"
#include "XPHostControl.h"

#include <benchmark/benchmark.h>

#include <cfloat>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// Every catalogue dataref published; floats from `floatValue` (varied a little
// per row), integers at intValue, arrays full.
void PublishCatalogue(float floatValue, int intValue) {
  xphost::Reset();
  float step = 0.0f;
  for (const DataRefMapping* row = gMappings; row->name; ++row, step += 1.37f) {
    const bool isInt = std::strcmp(row->dataType, "int") == 0;
    const float value = floatValue == -FLT_MAX ? floatValue : floatValue + step;
    if (row->isArray && isInt) {
      xphost::SetDatavi(row->dataRefPath, std::vector<int>(static_cast<size_t>(row->arraySize), intValue));
    } else if (row->isArray) {
      xphost::SetDatavf(row->dataRefPath, std::vector<float>(static_cast<size_t>(row->arraySize), value));
    } else if (isInt) {
      xphost::SetDatai(row->dataRefPath, intValue);
    } else if (std::strcmp(row->dataRefPath, "sim/cockpit/switches/gear_handle_status") != 0) {
      xphost::SetDataf(row->dataRefPath, value);
    }
  }
  InitDataRefs();
  xphost::ClearLog();
}

void Encode(benchmark::State& state) {
  static char out[kExtraDataBufferSize];
  int length = 0;
  for (auto _ : state) {
    length = BuildExtraDataJSON(out, sizeof(out));
    benchmark::DoNotOptimize(out);
  }
  state.counters["bytes"] = length;
}

void BM_BuildExtraDataJSON_Typical(benchmark::State& state) {
  PublishCatalogue(-42.125f, 1);  // negatives take the ten-decimal branch
  Encode(state);
}
BENCHMARK(BM_BuildExtraDataJSON_Typical);

void BM_BuildExtraDataJSON_Longest(benchmark::State& state) {
  PublishCatalogue(-FLT_MAX, INT_MIN);
  Encode(state);
}
BENCHMARK(BM_BuildExtraDataJSON_Longest);

}  // namespace

BENCHMARK_MAIN();
