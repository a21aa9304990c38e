#pragma once

// Turns one tile's pixels into a JPEG or PNG file. Each encoding thread owns
// one TileEncoder: its codec state and output buffers are made once and
// reused for every tile, so encoding allocates nothing per tile beyond what
// libpng does internally.

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trelvi::pyramid {

// Memory libpng takes per tile, handed out again for every tile.
struct PngArena {
  std::unique_ptr<std::uint8_t[]> Memory;
  std::uint8_t* Base = nullptr;
  std::size_t Size = 0, Used = 0;
};

enum class TileFormat { Jpeg, Png };

// Chroma subsampling of JPEG tiles. Auto keeps full chroma at quality 90
// and above and halves it both ways (4:2:0) below, as libvips' tile writer
// does by default, so our tiles compare like for like.
enum class ChromaSubsampling { Auto, S420, S444 };

struct TileEncoding {
  TileFormat Format = TileFormat::Jpeg;
  int Quality = 90;  // JPEG, 1-100
  ChromaSubsampling Subsampling = ChromaSubsampling::Auto;
  // zlib level of PNG tiles: fast, since a pyramid has millions of tiles
  // and the size gained by slower levels is a few percent.
  int PngLevel = 1;
  // Embedded in every tile when not empty (JPEG APP2, PNG iCCP).
  std::vector<std::uint8_t> IccProfile;
};

// "jpg" or "png": the tiles' extension and the descriptor's Format.
const char* FormatExtension(TileFormat format);

// The JPEG APP2 "ICC_PROFILE" segments that carry a profile, in 65519-byte
// chunks numbered from 1; empty for an empty profile. False when the profile
// needs more than 255 chunks, which the marker numbering cannot express.
bool JpegIccSegments(const std::vector<std::uint8_t>& profile,
                     std::vector<std::uint8_t>& segments);

class TileEncoder {
 public:
  // maxSide: the largest tile side it will be given (tile size + 2 x
  // overlap); channels 1-4 (grey, grey + alpha, RGB, RGBA).
  TileEncoder(const TileEncoding& encoding, std::uint32_t maxSide,
              int channels);
  ~TileEncoder();
  TileEncoder(const TileEncoder&) = delete;
  TileEncoder& operator=(const TileEncoder&) = delete;

  // Encodes width x height interleaved 8-bit pixels, rows `stride` bytes
  // apart; the result stays valid until the next call. JPEG drops alpha,
  // PNG keeps it. False with `error` set on failure.
  bool Encode(const std::uint8_t* pixels, std::uint32_t width,
              std::uint32_t height, std::size_t stride, std::string& error);
  // The encoded file in memory (for tests; Write avoids this copy).
  std::vector<std::uint8_t> Bytes() const;
  // Writes the encoded file to `path`, replacing any file there. On
  // failure removes what it wrote and sets `error`.
  bool Write(const std::string& path, std::string& error) const;

 private:
  bool EncodeJpeg(const std::uint8_t* pixels, std::uint32_t width,
                  std::uint32_t height, std::size_t stride, std::string& error);
  bool EncodePng(const std::uint8_t* pixels, std::uint32_t width,
                 std::uint32_t height, std::size_t stride, std::string& error);

  TileEncoding encoding_;
  int channels_;
  std::uint32_t maxSide_;
  void* jpeg_ = nullptr;  // tjhandle
  unsigned char* jpegBuffer_ = nullptr;
  unsigned long jpegCapacity_ = 0;
  std::vector<std::uint8_t> iccSegments_;
  std::vector<std::uint8_t> grey_;  // grey + alpha tiles without alpha
  std::vector<std::uint8_t> png_;
  PngArena arena_;
  // The file as pieces: JPEG's start, the ICC segments, the rest.
  iovec pieces_[3] = {};
  int pieceCount_ = 0;
};

}  // namespace trelvi::pyramid
