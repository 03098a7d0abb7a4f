// Shared by the fuzz targets: FuzzInput turns a fuzzer's input bytes into
// the choices of a scripted run (reads past the end give zeros, so every
// input is a complete script); QuietEnvironment is an environment without a
// directory that drops its log. Including this header also keeps the host
// debug log to errors, so that the drivers' lines do not slow the fuzzer.
#ifndef CLOUDDB_FUZZ_FUZZINPUT_H_
#define CLOUDDB_FUZZ_FUZZINPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/OrbEnvironment.h"

// Runs before main, before the debug log reads its level.
inline const bool kQuietDebugLog = setenv("EVDEBUG_LEVEL", "0", 0) == 0;

class QuietEnvironment : public OrbPrototypeEnvironment {
 public:
  QuietEnvironment() : OrbPrototypeEnvironment("") {}
  void log(const char*, const std::string&) override {}
};

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return used_ == size_; }

  uint8_t byte() { return used_ < size_ ? data_[used_++] : 0; }

  // A number in [0, limit].
  uint32_t upTo(uint32_t limit) {
    const uint32_t value = static_cast<uint32_t>(byte()) << 8 | byte();
    return limit == 0 ? 0 : value % (limit + 1);
  }

  bool flag() { return byte() & 1; }

  // Up to count bytes taken as they are.
  std::string bytes(size_t count) {
    const size_t taken = count < size_ - used_ ? count : size_ - used_;
    std::string text(reinterpret_cast<const char*>(data_ + used_), taken);
    used_ += taken;
    return text;
  }

  std::string rest() { return bytes(size_ - used_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

#endif  // CLOUDDB_FUZZ_FUZZINPUT_H_
