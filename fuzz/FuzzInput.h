// Turns a fuzzer's input bytes into the choices of a scripted run. Reads
// past the end give zeros, so every input is a complete script.
#ifndef CLOUDDB_FUZZ_FUZZINPUT_H_
#define CLOUDDB_FUZZ_FUZZINPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

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
