// The extra-data encoder with arbitrary dataref values, array lengths and
// output sizes: its text must always parse twice (JSON string, then object)
// and hold a prefix of the catalogue's keys in order.
#include "FuzzCheck.h"
#include "DataRefs.h"
#include "NetworkManager.h"
#include "XPHostControl.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Hands out the input's bytes; zeros once they run out.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Next() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint32_t Next32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Next();
    return value;
  }
  float NextFloat() {
    const uint32_t bits = Next32();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

void PublishValues(Bytes& bytes) {
  for (const DataRefMapping* row = gMappings; row->name; ++row) {
    const bool isInt = std::strcmp(row->dataType, "int") == 0;
    const size_t count = bytes.Next() % 20;
    if (row->isArray && isInt) {
      std::vector<int> values(count);
      for (int& value : values) value = static_cast<int>(bytes.Next32());
      xphost::SetDatavi(row->dataRefPath, values);
    } else if (row->isArray) {
      std::vector<float> values(count);
      for (float& value : values) value = bytes.NextFloat();
      xphost::SetDatavf(row->dataRefPath, values);
    } else if (isInt) {
      xphost::SetDatai(row->dataRefPath, static_cast<int>(bytes.Next32()));
    } else {
      xphost::SetDataf(row->dataRefPath, bytes.NextFloat());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes bytes(data, size);
  const size_t outSize = 3 + (static_cast<size_t>(bytes.Next()) << 8 | bytes.Next()) % (kExtraDataBufferSize - 2);
  const uint32_t presentRows = bytes.Next32();  // one bit per row; the rest are missing

  xphost::Reset();
  PublishValues(bytes);
  for (int i = 0; gMappings[i].name; ++i)
    if (!(presentRows >> (i % 32) & 1)) xphost::RemoveDataRef(gMappings[i].dataRefPath);
  InitDataRefs();

  std::vector<char> out(outSize + 8, '\x5a');
  const int length = BuildExtraDataJSON(out.data(), outSize);
  for (size_t i = outSize; i < out.size(); ++i) Check(out[i] == '\x5a', "wrote past the buffer");
  Check(length >= 2 && static_cast<size_t>(length) < outSize, "length within the buffer");

  const std::string escaped(out.data(), static_cast<size_t>(length));
  const nlohmann::json inner = nlohmann::json::parse("\"" + escaped + "\"", nullptr, false);
  Check(inner.is_string(), "extra is a JSON string");
  const nlohmann::ordered_json object = nlohmann::ordered_json::parse(inner.get<std::string>(), nullptr, false);
  Check(object.is_object(), "extra holds a JSON object");

  int row = 0;
  for (auto entry = object.begin(); entry != object.end(); ++entry, ++row) {
    while (gMappings[row].name && !gMappings[row].isValid) ++row;
    Check(gMappings[row].name && entry.key() == gMappings[row].name, "keys in catalogue order");
  }
  while (gMappings[row].name && !gMappings[row].isValid) ++row;
  if (outSize == kExtraDataBufferSize) Check(!gMappings[row].name, "the full buffer holds every row");
  return 0;
}
