// Shared internals of the CoreFoundation stand-in: the object header every CF
// object starts with, checked downcasts and the fault-injection hook.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace cfstandin {

enum class Kind : std::uint8_t { String, URL, Data, Number, Boolean, HTTPMessage, ReadStream, RunLoop, Count };

const char *KindName(Kind kind);

// Every CF object. Permanent objects (constants, booleans, run loops) ignore
// retain and release and are not counted as live; all objects are freed when
// the library is unloaded.
struct Object {
  Object(Kind objectKind, bool isPermanent);
  virtual ~Object();
  Object(const Object &) = delete;
  Object &operator=(const Object &) = delete;
  // Content equality for CFEqual; identity unless a type says otherwise.
  virtual bool Equals(const Object &other) const { return this == &other; }

  const Kind kind;
  const bool permanent;
  std::atomic<long> references{1};
  Object *previousLive = nullptr;
  Object *nextLive = nullptr;
};

// True once the library is being unloaded: objects are then freed wholesale
// and must not reach for each other.
bool LibraryUnloading();

// Drop the tables that point at permanent objects, which unloading frees.
void ForgetConstantStrings();
void ForgetRunLoops();

// Takes a reference unless the object is already on its way out (count 0).
bool RetainIfAlive(Object *object);

// Aborts with a message: a broken caller contract (NULL or wrong object type),
// which crashes on Apple too.
[[noreturn]] void ContractViolation(const char *operation, const char *what);

template <typename T>
T *Checked(const void *cf, const char *operation) {
  if (cf == nullptr) ContractViolation(operation, "NULL object");
  auto *object = static_cast<Object *>(const_cast<void *>(cf));
  if (object->kind != T::kKind) ContractViolation(operation, "object of the wrong type");
  return static_cast<T *>(object);
}

// True when a test asked this call of the operation to fail.
bool InjectedFailure(const char *operation);

// ---- Concrete object types ----
const std::string &StringText(CFStringRef string, const char *operation);
CFStringRef MakeString(std::string utf8Text);
CFStringRef MakePermanentString(const char *text);
const std::string &UrlText(CFURLRef url, const char *operation);

}  // namespace cfstandin

struct __CFString : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::String;
  __CFString(std::string utf8Text, bool isPermanent)
      : Object(kKind, isPermanent), text(std::move(utf8Text)) {}
  bool Equals(const Object &other) const override {
    return other.kind == kind && static_cast<const __CFString &>(other).text == text;
  }
  const std::string text;
};
