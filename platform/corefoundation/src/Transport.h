// The network worker: one thread running one libcurl multi loop that performs
// every stream's exchange, so callers never wait on the network.
#pragma once

#include <memory>

namespace cfstandin {

struct StreamState;

// Hands an opened stream's request to the worker, starting it when needed.
void StartTransfer(const std::shared_ptr<StreamState> &state);
// Drops a stream's exchange (closed or freed stream).
void CancelTransfer(const std::shared_ptr<StreamState> &state);
// The reader caught up with bytes the worker held back.
void ResumeTransfer(const std::shared_ptr<StreamState> &state);
// Ends every exchange and joins the worker; the next start begins anew.
void StopTransport();
// At unload: frees a stopped worker and returns true; false, touching nothing,
// while it still runs.
bool ReleaseStoppedTransport();

}  // namespace cfstandin
