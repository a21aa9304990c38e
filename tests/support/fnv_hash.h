#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trelvi::test {

// 64-bit FNV-1a: byte by byte, no dependence on word size, alignment or
// byte order, so a recorded value holds on every machine.
class Fnv1a64 {
 public:
  static constexpr std::uint64_t kOffset = 0xcbf29ce484222325ull;
  static constexpr std::uint64_t kPrime = 0x100000001b3ull;

  Fnv1a64& Add(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
      hash_ ^= p[i];
      hash_ *= kPrime;
    }
    return *this;
  }
  Fnv1a64& Add(const std::string& text) {
    return Add(text.data(), text.size());
  }
  Fnv1a64& Add(const std::vector<std::uint8_t>& bytes) {
    return Add(bytes.data(), bytes.size());
  }

  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = kOffset;
};

inline std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes) {
  return Fnv1a64().Add(bytes).Value();
}
inline std::uint64_t Fnv1a(const std::string& text) {
  return Fnv1a64().Add(text).Value();
}

}  // namespace trelvi::test
