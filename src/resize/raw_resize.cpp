#include "resize/raw_resize.h"

#include <pthread.h>

#include <cfenv>
#include <cmath>
#include <limits>

#include "engine/naming.h"
#include "engine/utils.h"
#include "resize/imaging/image_data.h"

namespace trelvi {

std::int64_t ResizedLength(std::uint32_t length, long double divider) {
  if (!(divider > 0.0L)) return -1;
  const long double q =
      std::nearbyint(static_cast<long double>(length) / divider);
  if (!(q <=
        static_cast<long double>(std::numeric_limits<std::int32_t>::max())))
    return -1;
  return static_cast<std::int64_t>(q);
}

TRawResize::~TRawResize() { WaitFor(); }

void TRawResize::Init(const std::string& inFile, long double aDivider,
                      bool fast, int bits, const std::string& outFolder) {
  SrcFileName = inFile;
  OutFileName.clear();
  Divider = aDivider;
  FastMethod = fast;
  Bits = bits;
  OutFolder = outFolder;
  Error = false;
}

void TRawResize::Start() {
  finished_.store(false, std::memory_order_relaxed);
  thread_ = std::thread([this] { Execute(); });
}

void TRawResize::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TRawResize::Execute() {
#if defined(__linux__)
  pthread_setname_np(pthread_self(), "TRawResizeTh");  // for debuggers
#endif
  // The sizes and the filter round to nearest, ties to even.
  std::fesetround(FE_TONEAREST);
  try {
    ResizeTile();
  } catch (...) {
    Error = true;
  }
  finished_.store(true, std::memory_order_release);
}

void TRawResize::ResizeTile() {
  std::uint32_t width = 0, height = 0;
  GetSizeFromName(SrcFileName, width, height);
  if (width == 0 || height == 0) {
    OutFileName.clear();
    return;
  }
  const std::int64_t newWidth = ResizedLength(width, Divider);
  const std::int64_t newHeight = ResizedLength(height, Divider);

  std::string baseName, ext;
  SplitFileName(SrcFileName, baseName, ext);
  std::uint32_t col = 0, row = 0;
  GetTilePosFromName(SrcFileName, col, row);
  const std::string folder =
      OutFolder.empty() ? DirectoryPart(SrcFileName) : OutFolder;

  constexpr std::uint32_t kMax = std::numeric_limits<std::int32_t>::max();
  if (width > kMax || height > kMax) throw TImagingError("Image too large.");
  if (newWidth < 0 || newHeight < 0) throw TImagingError("Invalid divider.");
  const TImageFormat format =
      Bits == 16 ? TImageFormat::R16G16B16 : TImageFormat::R8G8B8;
  if (newWidth == 0 || newHeight == 0)
    throw TImagingError("New width or height is zero.");
  TImageData image;
  if (FastMethod && !ScaleOptions.Reference) {
    // Nearest neighbour takes whole source rows: only those are read, and
    // the columns are picked from them as from the whole tile.
    LoadRawImageRows(SrcFileName, static_cast<std::int32_t>(width),
                     static_cast<std::int32_t>(height), format,
                     NearestIndices(static_cast<std::int32_t>(height),
                                    static_cast<std::int32_t>(newHeight)),
                     image);
    ScaleImage(image, static_cast<std::int32_t>(newWidth),
               static_cast<std::int32_t>(newHeight), rfNearest, ScaleOptions);
  } else {
    LoadRawImageFile(SrcFileName, static_cast<std::int32_t>(width),
                     static_cast<std::int32_t>(height), format, image);
    ScaleImage(image, static_cast<std::int32_t>(newWidth),
               static_cast<std::int32_t>(newHeight),
               FastMethod ? rfNearest : rfLanczos, ScaleOptions);
  }

  std::string name = folder + baseName + SizeSuffix(image.Width, image.Height);
  if (col != 0) name += TilePositionSuffix(col, row);
  name += "." + ext;
  SaveRawImageFile(name, image);
  OutFileName = name;
}

}  // namespace trelvi
