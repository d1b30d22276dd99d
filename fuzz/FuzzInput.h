#pragma once
// Reads a fuzz input as a little program of choices: bytes, numbers and lengths taken from the
// front. Past the end every read gives zeros or empty, so every input is a valid program.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  bool Empty() const { return at_ >= bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - at_; }

  std::uint8_t Byte() { return Empty() ? 0 : bytes_[at_++]; }
  std::uint16_t Unit() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Word() { return static_cast<std::uint32_t>(Unit()) | std::uint32_t{Unit()} << 16; }
  bool Bool() { return (Byte() & 1) != 0; }

  // Up to `most` bytes: a length byte, then that many bytes (fewer at the end).
  std::string Bytes(std::size_t most = 255) {
    const std::size_t n = std::min<std::size_t>({Byte(), most, Left()});
    std::string out(reinterpret_cast<const char*>(bytes_.data() + at_), n);
    at_ += n;
    return out;
  }
  // Everything not read yet.
  std::span<const std::uint8_t> Rest() {
    const auto rest = bytes_.subspan(at_);
    at_ = bytes_.size();
    return rest;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// A broken property: says which, and aborts, which both libFuzzer and the replay report.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))
