// Datarefs published through the control API and read by the plug-in with the
// SDK's rules: null and wrong-type reads give 0, array reads copy what fits.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPLMDataAccess.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

namespace xphost {
namespace {

struct DataRefEntry {
  std::string name;
  XPLMDataTypeID type = xplmType_Unknown;  // xplmType_Unknown once removed
  float floatValue = 0;
  int intValue = 0;
  std::vector<float> floats;
  std::vector<int> ints;
  std::string bytes;
  int reads = 0;
};

struct DataRefState {
  std::unordered_map<uintptr_t, DataRefEntry> byHandle;
  std::map<std::string, uintptr_t> handleByName;
  std::vector<std::string> findCalls;
  int totalReads = 0;
  int nullReads = 0;
};

DataRefState& State() {
  static DataRefState state;
  return state;
}

DataRefEntry& Publish(const std::string& name, XPLMDataTypeID type) {
  auto found = State().handleByName.find(name);
  uintptr_t handle = 0;
  if (found != State().handleByName.end()) {
    handle = found->second;
  } else {
    handle = detail::NextHandle();
    State().handleByName[name] = handle;
  }
  DataRefEntry& entry = State().byHandle[handle];
  entry = DataRefEntry{name, type, 0, 0, {}, {}, {}, entry.reads};
  return entry;
}

// The entry behind a handle, counting the read; null for a null, unknown or
// removed handle.
DataRefEntry* EntryForRead(XPLMDataRef ref) {
  if (!ref) {
    State().nullReads++;
    return nullptr;
  }
  auto found = State().byHandle.find(detail::AsId(ref));
  if (found == State().byHandle.end()) return nullptr;
  DataRefEntry& entry = found->second;
  entry.reads++;
  State().totalReads++;
  return entry.type == xplmType_Unknown ? nullptr : &entry;
}

DataRefEntry* EntryForWrite(XPLMDataRef ref, XPLMDataTypeID type) {
  auto found = State().byHandle.find(detail::AsId(ref));
  if (found == State().byHandle.end() || found->second.type != type) return nullptr;
  return &found->second;
}

// Items an array read copies: at most max, and only what exists from offset.
int CopyCount(size_t size, int offset, int max) {
  if (offset < 0 || max <= 0 || static_cast<size_t>(offset) >= size) return 0;
  return static_cast<int>(std::min(static_cast<size_t>(max), size - static_cast<size_t>(offset)));
}

template <typename T>
int ReadArray(const T* source, size_t size, T* out, int offset, int max) {
  if (!out) return static_cast<int>(size);
  int count = CopyCount(size, offset, max);
  if (count > 0) std::memcpy(out, source + offset, sizeof(T) * static_cast<size_t>(count));
  return count;
}

template <typename T>
void WriteArray(T* target, size_t size, const T* values, int offset, int count) {
  if (!values) return;
  int fitting = CopyCount(size, offset, count);
  if (fitting > 0) std::memcpy(target + offset, values, sizeof(T) * static_cast<size_t>(fitting));
}

}  // namespace

namespace detail {
void ResetDataRefs() { State() = DataRefState{}; }
}  // namespace detail

void SetDataf(const std::string& name, float value) { Publish(name, xplmType_Float).floatValue = value; }
void SetDatai(const std::string& name, int value) { Publish(name, xplmType_Int).intValue = value; }
void SetDatavf(const std::string& name, const std::vector<float>& values) {
  Publish(name, xplmType_FloatArray).floats = values;
}
void SetDatavi(const std::string& name, const std::vector<int>& values) {
  Publish(name, xplmType_IntArray).ints = values;
}
void SetDatab(const std::string& name, const std::string& bytes) {
  Publish(name, xplmType_Data).bytes = bytes;
}

void RemoveDataRef(const std::string& name) {
  auto found = State().handleByName.find(name);
  if (found == State().handleByName.end()) return;
  DataRefEntry& entry = State().byHandle[found->second];
  entry = DataRefEntry{name, xplmType_Unknown, 0, 0, {}, {}, {}, entry.reads};
}

int DataRefReadCount(const std::string& name) {
  auto found = State().handleByName.find(name);
  return found == State().handleByName.end() ? 0 : State().byHandle[found->second].reads;
}

int TotalDataRefReads() { return State().totalReads; }
int NullDataRefReads() { return State().nullReads; }
std::vector<std::string> FindDataRefCalls() { return State().findCalls; }

}  // namespace xphost

using xphost::EntryForRead;
using xphost::EntryForWrite;
using xphost::State;

extern "C" {

XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName) {
  if (!inDataRefName) return nullptr;
  State().findCalls.emplace_back(inDataRefName);
  auto found = State().handleByName.find(inDataRefName);
  if (found == State().handleByName.end()) return nullptr;
  if (State().byHandle[found->second].type == xplmType_Unknown) return nullptr;
  return xphost::detail::AsHandle(found->second);
}

XPLM_API int XPLMCanWriteDataRef(XPLMDataRef inDataRef) { return XPLMIsDataRefGood(inDataRef); }

XPLM_API int XPLMIsDataRefGood(XPLMDataRef inDataRef) {
  auto found = State().byHandle.find(xphost::detail::AsId(inDataRef));
  return found != State().byHandle.end() && found->second.type != xplmType_Unknown;
}

XPLM_API XPLMDataTypeID XPLMGetDataRefTypes(XPLMDataRef inDataRef) {
  auto found = State().byHandle.find(xphost::detail::AsId(inDataRef));
  return found == State().byHandle.end() ? xplmType_Unknown : found->second.type;
}

XPLM_API int XPLMGetDatai(XPLMDataRef inDataRef) {
  auto* entry = EntryForRead(inDataRef);
  return entry && entry->type == xplmType_Int ? entry->intValue : 0;
}

XPLM_API void XPLMSetDatai(XPLMDataRef inDataRef, int inValue) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Int)) entry->intValue = inValue;
}

XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef) {
  auto* entry = EntryForRead(inDataRef);
  return entry && entry->type == xplmType_Float ? entry->floatValue : 0.0f;
}

XPLM_API void XPLMSetDataf(XPLMDataRef inDataRef, float inValue) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Float)) entry->floatValue = inValue;
}

// Doubles are never published, so a double read is always a type mismatch.
XPLM_API double XPLMGetDatad(XPLMDataRef inDataRef) {
  EntryForRead(inDataRef);
  return 0.0;
}

XPLM_API void XPLMSetDatad(XPLMDataRef, double) {}

XPLM_API int XPLMGetDatavi(XPLMDataRef inDataRef, int* outValues, int inOffset, int inMax) {
  auto* entry = EntryForRead(inDataRef);
  if (!entry || entry->type != xplmType_IntArray) return 0;
  return xphost::ReadArray(entry->ints.data(), entry->ints.size(), outValues, inOffset, inMax);
}

XPLM_API void XPLMSetDatavi(XPLMDataRef inDataRef, int* inValues, int inoffset, int inCount) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_IntArray))
    xphost::WriteArray(entry->ints.data(), entry->ints.size(), inValues, inoffset, inCount);
}

XPLM_API int XPLMGetDatavf(XPLMDataRef inDataRef, float* outValues, int inOffset, int inMax) {
  auto* entry = EntryForRead(inDataRef);
  if (!entry || entry->type != xplmType_FloatArray) return 0;
  return xphost::ReadArray(entry->floats.data(), entry->floats.size(), outValues, inOffset, inMax);
}

XPLM_API void XPLMSetDatavf(XPLMDataRef inDataRef, float* inValues, int inoffset, int inCount) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_FloatArray))
    xphost::WriteArray(entry->floats.data(), entry->floats.size(), inValues, inoffset, inCount);
}

XPLM_API int XPLMGetDatab(XPLMDataRef inDataRef, void* outValue, int inOffset, int inMaxBytes) {
  auto* entry = EntryForRead(inDataRef);
  if (!entry || entry->type != xplmType_Data) return 0;
  return xphost::ReadArray(entry->bytes.data(), entry->bytes.size(), static_cast<char*>(outValue),
                           inOffset, inMaxBytes);
}

XPLM_API void XPLMSetDatab(XPLMDataRef inDataRef, void* inValue, int inOffset, int inLength) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Data))
    xphost::WriteArray(entry->bytes.data(), entry->bytes.size(), static_cast<const char*>(inValue),
                       inOffset, inLength);
}

}  // extern "C"
