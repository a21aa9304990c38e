#include "operations/pyramid/tile_encoder.h"

#include <fcntl.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace trelvi::pyramid {

namespace {

// 65535 (a segment's largest length) - 2 (the length field) - 12
// ("ICC_PROFILE\0") - 2 (chunk number and count).
constexpr std::size_t kIccChunk = 65519;

int JpegSubsampling(const TileEncoding& e, int channels) {
  if (channels <= 2) return TJSAMP_GRAY;
  switch (e.Subsampling) {
    case ChromaSubsampling::S420:
      return TJSAMP_420;
    case ChromaSubsampling::S444:
      return TJSAMP_444;
    case ChromaSubsampling::Auto:
      break;
  }
  return e.Quality >= 90 ? TJSAMP_444 : TJSAMP_420;
}

int JpegPixelFormat(int channels) {
  switch (channels) {
    case 3:
      return TJPF_RGB;
    case 4:
      return TJPF_RGBA;  // the encoder skips the fourth byte
    default:
      return TJPF_GRAY;  // grey + alpha is stripped to grey first
  }
}

int PngColorType(int channels) {
  switch (channels) {
    case 1:
      return PNG_COLOR_TYPE_GRAY;
    case 2:
      return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 3:
      return PNG_COLOR_TYPE_RGB;
    default:
      return PNG_COLOR_TYPE_RGB_ALPHA;
  }
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  // The buffer was reserved for a tile stored without compression, so this
  // does not reallocate in practice; if it must and cannot, libpng reports
  // the failure through its error handler rather than by an exception
  // crossing its C frames.
  if (out->capacity() - out->size() < length) {
    try {
      out->reserve(out->size() + length + out->size() / 2);
    } catch (const std::bad_alloc&) {
      png_error(png, "out of memory");
    }
  }
  out->insert(out->end(), data, data + length);
}

void PngFlush(png_structp) {}

struct PngErrorState {
  std::jmp_buf Jump;
  char Message[200];
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->Message, sizeof state->Message, "%s", message);
  std::longjmp(state->Jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// libpng and zlib take a few hundred kilobytes per tile. From malloc, each
// tile's blocks would be fresh pages, zeroed by the kernel, thousands of
// faults per second; from this arena, reset per tile, they are the same
// warm pages every time. What does not fit goes to malloc.
void* PngAlloc(png_structp png, png_alloc_size_t size) {
  auto* arena = static_cast<PngArena*>(png_get_mem_ptr(png));
  const std::size_t rounded = (size + 15) & ~std::size_t{15};
  if (rounded >= size && arena->Size - arena->Used >= rounded) {
    void* p = arena->Base + arena->Used;
    arena->Used += rounded;
    return p;
  }
  return std::malloc(size);
}

void PngFree(png_structp png, png_voidp ptr) {
  auto* arena = static_cast<PngArena*>(png_get_mem_ptr(png));
  const auto* p = static_cast<const std::uint8_t*>(ptr);
  if (p >= arena->Base && p < arena->Base + arena->Size) return;
  std::free(ptr);
}

}  // namespace

const char* FormatExtension(TileFormat format) {
  return format == TileFormat::Png ? "png" : "jpg";
}

bool JpegIccSegments(const std::vector<std::uint8_t>& profile,
                     std::vector<std::uint8_t>& segments) {
  segments.clear();
  if (profile.empty()) return true;
  const std::size_t count = (profile.size() + kIccChunk - 1) / kIccChunk;
  if (count > 255) return false;
  static const char kName[12] = "ICC_PROFILE";  // with its terminating 0
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t begin = i * kIccChunk;
    const std::size_t size = std::min(kIccChunk, profile.size() - begin);
    const std::size_t length = 2 + sizeof kName + 2 + size;
    segments.push_back(0xFF);
    segments.push_back(0xE2);
    segments.push_back(static_cast<std::uint8_t>(length >> 8));
    segments.push_back(static_cast<std::uint8_t>(length & 0xFF));
    segments.insert(segments.end(), kName, kName + sizeof kName);
    segments.push_back(static_cast<std::uint8_t>(i + 1));
    segments.push_back(static_cast<std::uint8_t>(count));
    segments.insert(segments.end(), profile.begin() + begin,
                    profile.begin() + begin + size);
  }
  return true;
}

TileEncoder::TileEncoder(const TileEncoding& encoding, std::uint32_t maxSide,
                         int channels)
    : encoding_(encoding), channels_(channels), maxSide_(maxSide) {
  const std::size_t pixels = std::size_t{maxSide} * maxSide;
  if (encoding_.Format == TileFormat::Jpeg) {
    JpegIccSegments(encoding_.IccProfile, iccSegments_);
    jpeg_ = tjInitCompress();
    jpegCapacity_ =
        tjBufSize(static_cast<int>(maxSide), static_cast<int>(maxSide),
                  JpegSubsampling(encoding_, channels_));
    jpegBuffer_ = tjAlloc(static_cast<int>(jpegCapacity_));
    if (channels_ == 2) grey_.resize(pixels);
  } else {
    // Rows stored raw plus the filter byte, zlib's block overhead and the
    // chunks around them: a tile never needs more.
    png_.reserve(pixels * channels_ + maxSide * 64 + 1024 +
                 encoding_.IccProfile.size() * 2);
    // zlib's window, hash chains and pending output (about 300 KB at any
    // level), libpng's row buffers, and the profile compressed.
    arena_.Size = (1 << 20) + std::size_t{maxSide} * channels_ * 8 +
                  encoding_.IccProfile.size() * 2;
    arena_.Memory.reset(new (std::nothrow) std::uint8_t[arena_.Size]);
    arena_.Base = arena_.Memory.get();
    if (!arena_.Base) arena_.Size = 0;
  }
}

TileEncoder::~TileEncoder() {
  if (jpegBuffer_) tjFree(jpegBuffer_);
  if (jpeg_) tjDestroy(static_cast<tjhandle>(jpeg_));
}

bool TileEncoder::Encode(const std::uint8_t* pixels, std::uint32_t width,
                         std::uint32_t height, std::size_t stride,
                         std::string& error) {
  pieceCount_ = 0;
  if (width == 0 || height == 0 || width > maxSide_ || height > maxSide_) {
    error = "tile size out of range";
    return false;
  }
  return encoding_.Format == TileFormat::Jpeg
             ? EncodeJpeg(pixels, width, height, stride, error)
             : EncodePng(pixels, width, height, stride, error);
}

bool TileEncoder::EncodeJpeg(const std::uint8_t* pixels, std::uint32_t width,
                             std::uint32_t height, std::size_t stride,
                             std::string& error) {
  if (!jpeg_ || !jpegBuffer_) {
    error = "cannot start the JPEG encoder";
    return false;
  }
  if (channels_ == 2) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* in = pixels + y * stride;
      std::uint8_t* out = grey_.data() + std::size_t{y} * width;
      for (std::uint32_t x = 0; x < width; ++x) out[x] = in[2 * x];
    }
    pixels = grey_.data();
    stride = width;
  }
  unsigned long size = jpegCapacity_;
  if (tjCompress2(static_cast<tjhandle>(jpeg_), pixels, static_cast<int>(width),
                  static_cast<int>(stride), static_cast<int>(height),
                  JpegPixelFormat(channels_), &jpegBuffer_, &size,
                  JpegSubsampling(encoding_, channels_), encoding_.Quality,
                  TJFLAG_NOREALLOC) != 0) {
    error = tjGetErrorStr2(static_cast<tjhandle>(jpeg_));
    return false;
  }
  // The profile goes after the start of image and the JFIF segment, where
  // readers look for it.
  std::size_t head = 2;
  if (size >= 6 && jpegBuffer_[2] == 0xFF && jpegBuffer_[3] == 0xE0)
    head += 2 + ((std::size_t{jpegBuffer_[4]} << 8) | jpegBuffer_[5]);
  if (head > size) head = size;
  pieces_[0] = {jpegBuffer_, head};
  pieceCount_ = 1;
  if (!iccSegments_.empty())
    pieces_[pieceCount_++] = {iccSegments_.data(), iccSegments_.size()};
  pieces_[pieceCount_++] = {jpegBuffer_ + head, size - head};
  return true;
}

bool TileEncoder::EncodePng(const std::uint8_t* pixels, std::uint32_t width,
                            std::uint32_t height, std::size_t stride,
                            std::string& error) {
  png_.clear();
  PngErrorState state;
  state.Message[0] = 0;
  arena_.Used = 0;
  png_structp png =
      png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &state, PngError,
                                PngWarning, &arena_, PngAlloc, PngFree);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    error = "cannot start the PNG encoder";
    return false;
  }
  if (setjmp(state.Jump)) {
    png_destroy_write_struct(&png, &info);
    error = std::string("PNG encoder: ") + state.Message;
    return false;
  }
  png_set_write_fn(png, &png_, PngWrite, PngFlush);
  // A profile libpng finds fault with is its judgement to keep or drop, not
  // a reason to stop the whole pyramid.
  png_set_benign_errors(png, 1);
  png_set_compression_level(png, encoding_.PngLevel);
  // One fixed filter: choosing per row costs five filter passes for a few
  // percent of size; "up" suits photographs at fast zlib levels.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_IHDR(png, info, width, height, 8, PngColorType(channels_),
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  if (!encoding_.IccProfile.empty())
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE,
                 encoding_.IccProfile.data(),
                 static_cast<png_uint_32>(encoding_.IccProfile.size()));
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < height; ++y)
    png_write_row(png, pixels + y * stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  pieces_[0] = {png_.data(), png_.size()};
  pieceCount_ = 1;
  return true;
}

std::vector<std::uint8_t> TileEncoder::Bytes() const {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < pieceCount_; ++i) {
    const auto* p = static_cast<const std::uint8_t*>(pieces_[i].iov_base);
    bytes.insert(bytes.end(), p, p + pieces_[i].iov_len);
  }
  return bytes;
}

bool TileEncoder::Write(const std::string& path, std::string& error) const {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "Cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  iovec left[3];
  int first = 0, count = pieceCount_;
  for (int i = 0; i < count; ++i) left[i] = pieces_[i];
  int failure = 0;
  while (first < count) {
    const ssize_t n = writev(fd, left + first, count - first);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    if (n == 0) {
      failure = ENOSPC;
      break;
    }
    auto done = static_cast<std::size_t>(n);
    while (first < count && done >= left[first].iov_len)
      done -= left[first++].iov_len;
    if (first < count) {
      left[first].iov_base =
          static_cast<std::uint8_t*>(left[first].iov_base) + done;
      left[first].iov_len -= done;
    }
  }
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure != 0) {
    unlink(path.c_str());
    error = "Cannot write " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace trelvi::pyramid
