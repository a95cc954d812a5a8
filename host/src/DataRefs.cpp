// Datarefs as X-Plane publishes them: only the names of XPlaneDataRefs.h, with
// the type and size the played version gives them, whatever setter a test or
// profile used. Reads follow the SDK's rules: null handles and accessors the
// dataref does not offer give 0, array reads copy what fits.
#include "HostInternal.h"
#include "XPHostControl.h"
#include "XPLMDataAccess.h"
#include "XPlaneDataRefs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

namespace xphost {
namespace {

struct DataRefEntry {
  std::string name;
  XPLMDataTypeID type = xplmType_Unknown;  // xplmType_Unknown once removed
  double scalar = 0;                       // Int, Float and Double datarefs
  std::vector<float> floats;               // sized as the version publishes them
  std::vector<int> ints;
  std::string bytes;
  size_t byteCapacity = 0;
  int reads = 0;
};

struct DataRefState {
  XPlaneVersion version = XPlaneVersion::XP12;
  std::unordered_map<uintptr_t, DataRefEntry> byHandle;
  std::map<std::string, uintptr_t> handleByName;
  std::vector<std::string> findCalls;
  std::vector<std::string> missedLookups;
  std::vector<std::string> wrongAccessorReads;
  int totalReads = 0;
  int nullReads = 0;
};

DataRefState& State() {
  static DataRefState state;
  return state;
}

void NoteOnce(std::vector<std::string>* list, const std::string& text) {
  if (std::find(list->begin(), list->end(), text) == list->end()) list->push_back(text);
}

XPLMDataTypeID SdkType(XPlaneType type) {
  switch (type) {
    case XPlaneType::Int: return xplmType_Int;
    case XPlaneType::Float: return xplmType_Float;
    case XPlaneType::Double: return xplmType_Float | xplmType_Double;
    case XPlaneType::IntArray: return xplmType_IntArray;
    case XPlaneType::FloatArray: return xplmType_FloatArray;
    case XPlaneType::Bytes: return xplmType_Data;
  }
  return xplmType_Unknown;
}

// The entry for a name the played version publishes, with its type and size
// and every value 0; null for a name it does not publish.
DataRefEntry* Publish(const std::string& name) {
  const XPlaneDataRef* row = FindXPlaneDataRef(name.c_str());
  const int size = row ? PublishedSize(*row, State().version) : 0;
  if (size == 0) return nullptr;
  auto found = State().handleByName.find(name);
  uintptr_t handle = found != State().handleByName.end() ? found->second : detail::NextHandle();
  State().handleByName[name] = handle;
  DataRefEntry& entry = State().byHandle[handle];
  entry = DataRefEntry{name, SdkType(row->type), 0, {}, {}, {}, 0, entry.reads};
  if (row->type == XPlaneType::FloatArray) entry.floats.assign(static_cast<size_t>(size), 0.0f);
  if (row->type == XPlaneType::IntArray) entry.ints.assign(static_cast<size_t>(size), 0);
  if (row->type == XPlaneType::Bytes) entry.byteCapacity = static_cast<size_t>(size);
  return &entry;
}

// Rounded and held to int range; what is not a number is 0.
int ToInt(double number) {
  if (!std::isfinite(number)) return 0;
  const double limit = 2147483647.0;
  return static_cast<int>(std::lround(std::max(-limit - 1.0, std::min(limit, number))));
}

// Numbers take the dataref's type: ints are rounded, a scalar takes the first
// number, an array takes as many as it holds and 0 for the rest.
void PublishNumbers(const std::string& name, const std::vector<double>& numbers) {
  DataRefEntry* entry = Publish(name);
  if (!entry || entry->type == xplmType_Data) return;
  const double first = numbers.empty() ? 0.0 : numbers[0];
  entry->scalar = entry->type == xplmType_Int ? ToInt(first) : first;
  const size_t count = std::min(numbers.size(), std::max(entry->floats.size(), entry->ints.size()));
  for (size_t i = 0; i < count; ++i) {
    if (!entry->floats.empty()) entry->floats[i] = static_cast<float>(numbers[i]);
    if (!entry->ints.empty()) entry->ints[i] = ToInt(numbers[i]);
  }
}

template <typename T>
std::vector<double> AsNumbers(const std::vector<T>& values) {
  return std::vector<double>(values.begin(), values.end());
}

// The entry behind a handle, counting the read; null for a null, unknown or
// removed handle and for an accessor the dataref does not offer.
DataRefEntry* EntryForRead(XPLMDataRef ref, XPLMDataTypeID accessor, const char* accessorName) {
  if (!ref) {
    State().nullReads++;
    return nullptr;
  }
  auto found = State().byHandle.find(detail::AsId(ref));
  if (found == State().byHandle.end()) return nullptr;
  DataRefEntry& entry = found->second;
  entry.reads++;
  State().totalReads++;
  if (entry.type == xplmType_Unknown) return nullptr;
  if ((entry.type & accessor) == 0) {
    NoteOnce(&State().wrongAccessorReads, std::string(accessorName) + " " + entry.name);
    return nullptr;
  }
  return &entry;
}

DataRefEntry* EntryForWrite(XPLMDataRef ref, XPLMDataTypeID type) {
  auto found = State().byHandle.find(detail::AsId(ref));
  if (found == State().byHandle.end() || (found->second.type & type) == 0) return nullptr;
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

void SetXPlaneVersion(XPlaneVersion version) { State().version = version; }

void SetDataf(const std::string& name, float value) { PublishNumbers(name, {value}); }
void SetDatad(const std::string& name, double value) { PublishNumbers(name, {value}); }
void SetDatai(const std::string& name, int value) { PublishNumbers(name, {static_cast<double>(value)}); }
void SetDatavf(const std::string& name, const std::vector<float>& values) { PublishNumbers(name, AsNumbers(values)); }
void SetDatavi(const std::string& name, const std::vector<int>& values) { PublishNumbers(name, AsNumbers(values)); }
void SetDatab(const std::string& name, const std::string& bytes) {
  DataRefEntry* entry = Publish(name);
  if (entry && entry->type == xplmType_Data) entry->bytes = bytes.substr(0, entry->byteCapacity);
}

void RemoveDataRef(const std::string& name) {
  auto found = State().handleByName.find(name);
  if (found == State().handleByName.end()) return;
  DataRefEntry& entry = State().byHandle[found->second];
  entry = DataRefEntry{name, xplmType_Unknown, 0, {}, {}, {}, 0, entry.reads};
}

int DataRefReadCount(const std::string& name) {
  auto found = State().handleByName.find(name);
  return found == State().handleByName.end() ? 0 : State().byHandle[found->second].reads;
}

int TotalDataRefReads() { return State().totalReads; }
int NullDataRefReads() { return State().nullReads; }
std::vector<std::string> FindDataRefCalls() { return State().findCalls; }
std::vector<std::string> MissedDataRefLookups() { return State().missedLookups; }
std::vector<std::string> WrongAccessorReads() { return State().wrongAccessorReads; }

}  // namespace xphost

using xphost::EntryForRead;
using xphost::EntryForWrite;
using xphost::State;

extern "C" {

XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName) {
  if (!inDataRefName) return nullptr;
  State().findCalls.emplace_back(inDataRefName);
  auto found = State().handleByName.find(inDataRefName);
  if (found == State().handleByName.end() || State().byHandle[found->second].type == xplmType_Unknown) {
    xphost::NoteOnce(&State().missedLookups, inDataRefName);
    return nullptr;
  }
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
  auto* entry = EntryForRead(inDataRef, xplmType_Int, "XPLMGetDatai");
  return entry ? static_cast<int>(entry->scalar) : 0;
}

XPLM_API void XPLMSetDatai(XPLMDataRef inDataRef, int inValue) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Int)) entry->scalar = inValue;
}

XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef) {
  auto* entry = EntryForRead(inDataRef, xplmType_Float, "XPLMGetDataf");
  return entry ? static_cast<float>(entry->scalar) : 0.0f;
}

XPLM_API void XPLMSetDataf(XPLMDataRef inDataRef, float inValue) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Float)) entry->scalar = inValue;
}

XPLM_API double XPLMGetDatad(XPLMDataRef inDataRef) {
  auto* entry = EntryForRead(inDataRef, xplmType_Double, "XPLMGetDatad");
  return entry ? entry->scalar : 0.0;
}

XPLM_API void XPLMSetDatad(XPLMDataRef inDataRef, double inValue) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Double)) entry->scalar = inValue;
}

XPLM_API int XPLMGetDatavi(XPLMDataRef inDataRef, int* outValues, int inOffset, int inMax) {
  auto* entry = EntryForRead(inDataRef, xplmType_IntArray, "XPLMGetDatavi");
  if (!entry) return 0;
  return xphost::ReadArray(entry->ints.data(), entry->ints.size(), outValues, inOffset, inMax);
}

XPLM_API void XPLMSetDatavi(XPLMDataRef inDataRef, int* inValues, int inoffset, int inCount) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_IntArray))
    xphost::WriteArray(entry->ints.data(), entry->ints.size(), inValues, inoffset, inCount);
}

XPLM_API int XPLMGetDatavf(XPLMDataRef inDataRef, float* outValues, int inOffset, int inMax) {
  auto* entry = EntryForRead(inDataRef, xplmType_FloatArray, "XPLMGetDatavf");
  if (!entry) return 0;
  return xphost::ReadArray(entry->floats.data(), entry->floats.size(), outValues, inOffset, inMax);
}

XPLM_API void XPLMSetDatavf(XPLMDataRef inDataRef, float* inValues, int inoffset, int inCount) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_FloatArray))
    xphost::WriteArray(entry->floats.data(), entry->floats.size(), inValues, inoffset, inCount);
}

XPLM_API int XPLMGetDatab(XPLMDataRef inDataRef, void* outValue, int inOffset, int inMaxBytes) {
  auto* entry = EntryForRead(inDataRef, xplmType_Data, "XPLMGetDatab");
  if (!entry) return 0;
  return xphost::ReadArray(entry->bytes.data(), entry->bytes.size(), static_cast<char*>(outValue),
                           inOffset, inMaxBytes);
}

XPLM_API void XPLMSetDatab(XPLMDataRef inDataRef, void* inValue, int inOffset, int inLength) {
  if (auto* entry = EntryForWrite(inDataRef, xplmType_Data))
    xphost::WriteArray(entry->bytes.data(), entry->bytes.size(), static_cast<const char*>(inValue),
                       inOffset, inLength);
}

}  // extern "C"
