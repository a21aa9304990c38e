#include "resize/imaging/pixel_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace trelvi {

namespace {

// Blocks below this come from the ordinary heap; so do all blocks in
// builds with AddressSanitizer, which then checks every access.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::int64_t kLargeBlock = INT64_MAX;
#else
constexpr std::int64_t kLargeBlock = std::int64_t{4} << 20;
#endif
constexpr std::int64_t kPage = std::int64_t{2} << 20;  // a huge page
constexpr std::int64_t kKeepAtMost = std::int64_t{1} << 30;
constexpr std::size_t kKeepBlocks = 4;

struct Cache {
  std::mutex Lock;
  std::map<std::uint8_t*, std::int64_t> Out;        // handed out: capacity
  std::multimap<std::int64_t, std::uint8_t*> Kept;  // by capacity
  std::int64_t KeptBytes = 0;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // outlives every static user
  return *cache;
}

std::int64_t RoundUp(std::int64_t size) {
  return (size + kPage - 1) / kPage * kPage;
}

}  // namespace

std::uint8_t* AcquirePixels(std::int64_t size, bool zeroFill) {
  if (size <= 0) return nullptr;
  if (size < kLargeBlock) {
    void* p = zeroFill ? std::calloc(static_cast<std::size_t>(size), 1)
                       : std::malloc(static_cast<std::size_t>(size));
    return static_cast<std::uint8_t*>(p);
  }
  Cache& cache = TheCache();
  {
    std::lock_guard<std::mutex> guard(cache.Lock);
    // The smallest kept block that fits. A larger one is only borrowed:
    // the memory is the system's again at the end of the run.
    auto it = cache.Kept.lower_bound(size);
    if (it != cache.Kept.end()) {
      std::uint8_t* block = it->second;
      const std::int64_t capacity = it->first;
      cache.KeptBytes -= capacity;
      cache.Kept.erase(it);
      cache.Out[block] = capacity;
      if (zeroFill) std::memset(block, 0, static_cast<std::size_t>(size));
      return block;
    }
  }
  const std::int64_t capacity = RoundUp(size);
  void* p = ::mmap(nullptr, static_cast<std::size_t>(capacity),
                   PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Fewer, larger pages: far fewer faults on first touch.
  ::madvise(p, static_cast<std::size_t>(capacity), MADV_HUGEPAGE);
  auto* block = static_cast<std::uint8_t*>(p);
  std::lock_guard<std::mutex> guard(TheCache().Lock);
  TheCache().Out[block] = capacity;
  return block;  // fresh mappings read as zero
}

void ReturnPixels(std::uint8_t* block, std::int64_t size) {
  if (!block) return;
  if (size < kLargeBlock) {
    std::free(block);
    return;
  }
  Cache& cache = TheCache();
  std::int64_t capacity = 0;
  {
    std::lock_guard<std::mutex> guard(cache.Lock);
    auto it = cache.Out.find(block);
    if (it == cache.Out.end()) return;  // not ours
    capacity = it->second;
    cache.Out.erase(it);
    if (cache.Kept.size() < kKeepBlocks &&
        cache.KeptBytes + capacity <= kKeepAtMost) {
      cache.Kept.emplace(capacity, block);
      cache.KeptBytes += capacity;
      return;
    }
  }
  ::munmap(block, static_cast<std::size_t>(capacity));
}

void TrimPixelCache() {
  Cache& cache = TheCache();
  std::multimap<std::int64_t, std::uint8_t*> kept;
  {
    std::lock_guard<std::mutex> guard(cache.Lock);
    kept.swap(cache.Kept);
    cache.KeptBytes = 0;
  }
  for (const auto& [capacity, block] : kept)
    ::munmap(block, static_cast<std::size_t>(capacity));
}

}  // namespace trelvi
