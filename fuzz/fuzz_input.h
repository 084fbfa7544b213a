// The input layout of the setup and co-installer fuzzers: parts separated by 0xFF bytes. Part 0
// holds control bytes, each of which a target gives a meaning; the other parts are texts and
// byte strings (file contents, registry data, command-line arguments) taken in order. A byte
// or part past the end reads as zero or empty, and zeros describe the target's plain working
// case, so that short inputs and seeds stay readable: "\x03\xFFarg\xFFfile contents".
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzzing {

class PartedInput {
 public:
  PartedInput(const uint8_t* data, size_t size) {
    parts_.emplace_back();
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == 0xFF)
        parts_.emplace_back();
      else
        parts_.back().push_back(static_cast<char>(data[i]));
    }
  }

  // Control byte `index` of part 0.
  uint8_t Control(size_t index) const {
    return index < parts_[0].size() ? static_cast<uint8_t>(parts_[0][index]) : 0;
  }
  bool Bit(size_t index, int bit) const { return (Control(index) >> bit) & 1; }

  // The next part after part 0 (and after those taken before); empty when none is left.
  std::string Next() { return next_ < parts_.size() ? parts_[next_++] : std::string(); }
  bool HasNext() const { return next_ < parts_.size(); }

  // A part as one command-line argument or value name, which holds no NUL: cut at the first.
  static std::string Argument(const std::string& part) { return part.substr(0, part.find('\0')); }

 private:
  std::vector<std::string> parts_;
  size_t next_ = 1;
};

// A finding: says what was wrong and aborts, so libFuzzer keeps the input.
[[noreturn]] inline void Finding(const char* target, const std::string& what) {
  std::fprintf(stderr, "%s fuzzer: %s\n", target, what.c_str());
  std::abort();
}

}  // namespace fuzzing
