#include "engine/formats/tiff/lzw_encoder.h"

#include <cstring>

namespace trelvi {

namespace {

constexpr std::uint32_t kClear = 256;
constexpr std::uint32_t kEoi = 257;
constexpr std::uint32_t kFirst = 258;
constexpr int kMinBits = 9;
constexpr int kMaxBits = 12;
// libtiff starts over once the next free code would be 4094, leaving the
// last two 12-bit codes unused.
constexpr std::uint32_t kTableFull = (1u << kMaxBits) - 2;
// libtiff compares the compression ratio after every this many input bytes
// (counted from the last Clear) and starts over when it did not improve.
constexpr std::int64_t kCheckGap = 10000;

// At most 3836 strings are in the table at once. Probing for a free slot
// costs more than clearing a larger table at each reset: with 32768 slots
// (128 KiB, in the second-level cache) the table is at most an eighth full
// and a lookup nearly always decides at its first slot.
constexpr int kSlotBits = 15;
constexpr std::uint32_t kSlotCount = 1u << kSlotBits;
constexpr std::uint32_t kSlotMask = kSlotCount - 1;

inline std::uint32_t SlotOf(std::uint32_t key) {
  return (key * 0x9E3779B1u) >> (32 - kSlotBits);
}

inline void StoreBigEndian64(std::uint8_t* p, std::uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// Codes packed most significant bit first. The pending bits (fewer than 8
// between codes) sit at the top of acc; every code stores all eight bytes
// of acc and advances by the whole bytes it completed, so the output needs
// 8 bytes of slack and no branch decides when to write.
struct BitSink {
  std::uint8_t* op;
  std::uint64_t acc = 0;
  unsigned bits = 0;

  inline void Put(std::uint32_t code, unsigned width) {
    acc |= static_cast<std::uint64_t>(code) << (64 - bits - width);
    bits += width;
    StoreBigEndian64(op, acc);
    const unsigned whole = bits >> 3;
    op += whole;
    acc <<= whole * 8;
    bits &= 7;
  }
  // Bits written so far, counted from start.
  inline std::int64_t BitsSince(const std::uint8_t* start) const {
    return static_cast<std::int64_t>(op - start) * 8 + bits;
  }
};

}  // namespace

LzwEncoder::LzwEncoder() : slots_(new std::uint32_t[kSlotCount]) {}

LzwEncoder::~LzwEncoder() = default;

std::size_t LzwEncoder::MaxEncodedSize(std::size_t n) {
  // Each input byte ends at most one string, and each string's code is
  // followed by at most one Clear; with the first Clear, the last code and
  // EOI, every code at most 12 bits; plus the output's 8 bytes of slack.
  return (2 * n + 3) * 3 / 2 + 1 + 8;
}

std::size_t LzwEncoder::Encode(const std::uint8_t* in, std::size_t n,
                               std::vector<std::uint8_t>& out) {
  const std::size_t need = MaxEncodedSize(n);
  if (scratchSize_ < need) {
    scratch_.reset(new std::uint8_t[need]);
    scratchSize_ = need;
  }
  const std::size_t size = Encode(in, n, scratch_.get());
  out.assign(scratch_.get(), scratch_.get() + size);
  return size;
}

std::size_t LzwEncoder::Encode(const std::uint8_t* in, std::size_t n,
                               std::uint8_t* dst) {
  BitSink sink{dst};
  std::uint32_t* const slots = slots_.get();
  if (n == 0) {
    // No row is empty; an empty strip is EOI alone, the shortest stream a
    // decoder takes.
    sink.Put(kEoi, kMinBits);
  } else {
    std::memset(slots, 0, kSlotCount * sizeof(std::uint32_t));
    unsigned width = kMinBits;
    std::uint32_t freeCode = kFirst;
    // A free code at or above this needs a wider code or a new table.
    std::uint32_t limit = 1u << kMinBits;
    // The ratio check's state, as libtiff keeps it: input bytes and output
    // bits since the last Clear, the input count at which to check next,
    // and the ratio found at the last check (24.8 fixed point).
    std::size_t inBase = 0;
    std::int64_t outBase = 0;
    std::int64_t checkpoint = kCheckGap;
    std::size_t checkAt = inBase + static_cast<std::size_t>(checkpoint);
    std::int64_t ratio = 0;

    sink.Put(kClear, width);
    std::uint32_t ent = in[0];
    for (std::size_t i = 1; i < n; ++i) {
      const std::uint32_t c = in[i];
      const std::uint32_t key = (ent << 8) | c;
      // Stored one up, so that no string matches an empty slot.
      const std::uint32_t tag = key + 1;
      std::uint32_t s = SlotOf(key);
      for (;;) {
        const std::uint32_t e = slots[s];
        if ((e >> 12) == tag) {
          ent = e & 0xFFF;
          goto next;
        }
        if (e == 0) break;
        s = (s + 1) & kSlotMask;
      }
      // A new string: emit the longest known one and remember it plus c.
      sink.Put(ent, width);
      slots[s] = (tag << 12) | freeCode;
      ent = c;
      ++freeCode;
      if (freeCode >= limit || i + 1 >= checkAt) [[unlikely]] {
        bool clear = false;
        if (freeCode == kTableFull) {
          clear = true;
        } else if (freeCode >= limit) {
          ++width;
          limit = width == kMaxBits ? kTableFull : 1u << width;
        } else {
          const std::int64_t inCount =
              static_cast<std::int64_t>(i + 1 - inBase);
          const std::int64_t outCount = sink.BitsSince(dst) - outBase;
          checkpoint = inCount + kCheckGap;
          std::int64_t rat;
          // libtiff's form for counts whose shift would overflow 32 bits;
          // one table never covers that many bytes, but the rule is kept.
          if (inCount > 0x007fffff) {
            rat = outCount >> 8;
            rat = rat == 0 ? 0x7fffffff : inCount / rat;
          } else {
            rat = (inCount << 8) / outCount;
          }
          if (rat <= ratio)
            clear = true;
          else
            ratio = rat;
        }
        if (clear) {
          std::memset(slots, 0, kSlotCount * sizeof(std::uint32_t));
          ratio = 0;
          inBase = i + 1;
          outBase = sink.BitsSince(dst);
          freeCode = kFirst;
          // The Clear itself still has the old width.
          sink.Put(kClear, width);
          width = kMinBits;
          limit = 1u << kMinBits;
        }
        checkAt = inBase + static_cast<std::size_t>(checkpoint);
      }
    next:;
    }
    // The last string; the decoder adds a table entry for it as well, so
    // EOI may need a wider code, or follow a Clear of its own.
    sink.Put(ent, width);
    ++freeCode;
    if (freeCode == kTableFull) {
      sink.Put(kClear, width);
      width = kMinBits;
    } else if (freeCode >= (1u << width)) {
      ++width;
    }
    sink.Put(kEoi, width);
  }
  if (sink.bits > 0) *sink.op++ = static_cast<std::uint8_t>(sink.acc >> 56);
  return static_cast<std::size_t>(sink.op - dst);
}

}  // namespace trelvi
