#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_info.h"
#include "engine/image_format.h"
#include "engine/ui_services.h"

namespace trelvi {

class ImageReader;
class ImageWriter;
class PartialOutput;
struct OutputName;

// Rows are counted in the signed 32-bit results of ReadLine and WriteLine,
// so no row may be larger than that can express.
inline constexpr std::uint64_t kMaxRowBytes = 0x7FFFFFFF;

// Program version, shown by the command line and compared by the update check.
inline constexpr const char* kVersion = "2.1.0";

// The engine: one input and one output, each with its descriptor, the
// reader or writer of its format and its row buffer, the output options,
// the stop flag and the five hooks.
class TTrelvi {
 public:
  explicit TTrelvi(UiServices& ui = SilentUiServices::Instance());
  ~TTrelvi();
  TTrelvi(const TTrelvi&) = delete;
  TTrelvi& operator=(const TTrelvi&) = delete;

  bool InOpen = false;
  bool OutOpen = false;
  TFileInfo InInfo;
  TFileInfo OutInfo;
  bool UseLzw = false;
  // The codec of an output beyond LZW (Deflate, ZSTD); UseLzw wins when set.
  Compression OutCodec = Compression::None;
  // The codec's level; 0 is the codec's default.
  int CompressionLevel = 0;
  bool ForceBigTiff = false;
  bool Aborted = false;
  // Flush each finished output and its folder to the disk around the
  // rename onto its final name, so that it survives a power cut.
  bool SyncOutputs = false;
  // Files the output must never replace besides InInfo.FileName (the
  // selected tiles of a merge).
  std::vector<std::string> KeepFiles;
  // Whether the last output created reached its final name: an existing
  // file of that name may be an older one that a failed run left alone.
  bool OutCommitted = false;

  std::function<void(const std::string&)> OnError;
  std::function<void(const std::string&)> OnStatus;
  std::function<void(std::int32_t, const std::string&)> OnShowProgress;
  std::function<void(std::int32_t)> OnUpdateProgress;
  std::function<void()> OnHideProgress;

  UiServices& Ui() const { return *ui_; }

  // Whether a reader of the input, or a writer of the output, is open.
  bool InReaderOpen() const { return inReader_ != nullptr; }
  bool OutWriterOpen() const { return outWriter_ != nullptr; }

  void InitEngine();

  // Format detection and the readers.
  void ReadInputInfo(bool askUser);
  void ReadKroInfo();
  void ReadRawInfo(bool askUser);
  void ReadTiffInfo();

  bool OpenInFile(const std::string& fileName);
  void CloseInFile();

  bool CreateOutFile(const std::string& baseName);
  // Writes the KRO header of OutInfo into a KRO output being written (the
  // KRO writer writes it by itself when the file is created).
  void WriteKroHeader();
  // Completes and closes the output. False when the file could not be
  // completed (buffered rows or the TIFF directory failed to reach the disk)
  // or not be renamed onto its final name: nothing was then written under
  // that name and the caller must treat it as a write failure.
  bool CloseOutFile();
  // Completes and closes the output, which is written under a partial name
  // until here: kept, a complete file replaces whatever had the final name;
  // otherwise (or when incomplete) the partial file is removed and the
  // final name holds what it held before the run. False as CloseOutFile.
  bool FinishOutFile(bool keep);

  // Reads row `row` into InInfo.ScanLine: the number of bytes the file held
  // (short at its end, the rest black), 0 on failure. RAW and KRO rows may
  // be asked for in any order; TIFF rows from any row on, in increasing
  // order.
  [[nodiscard]] std::int32_t ReadLine(std::uint32_t row);
  // Writes OutInfo.ScanLine as row `row`; ScanLineSize, or 0 on failure.
  [[nodiscard]] std::int32_t WriteLine(std::uint32_t row);
  void ConvertLine(const TFileInfo& src, std::uint32_t srcStart,
                   const TFileInfo& dst, std::uint32_t dstStart,
                   std::uint32_t count);

  void DoError(const std::string& msg);
  void DoStatus(const std::string& msg);
  void DoShowProgress(std::int32_t max, const std::string& desc);
  void DoUpdateProgress(std::int32_t current);
  void DoHideProgress();

  // Operations on whole images.
  void CropImage(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                 const std::string& outDir, const std::string& desc);
  void SplitImage(std::uint32_t tileW, std::uint32_t tileH,
                  std::vector<std::string>& list, const std::string& outDir,
                  const std::string& desc);
  void MergeTiles(std::uint32_t cols, std::uint32_t rows,
                  const std::vector<std::string>& files,
                  const std::string& outDir, const std::string& desc);

 private:
  // The steps of CreateOutFile, in their order.
  bool ApplyOutputLayout();
  OutputName ChooseOutputName(const std::string& baseName) const;
  bool CheckOutputTarget(const std::string& name);
  bool AllocateOutBuffer();
  bool OpenOutWriter(const OutputName& name);
  // What OutInfo.Metadata adds to the output at most.
  std::uint64_t OutMetadataBytes() const;

  UiServices* ui_;
  // The buffers this engine allocated. InInfo/OutInfo.ScanLine may point at
  // a buffer of another engine (a tile engine of the split copies the main
  // engine's InInfo); those are never freed here.
  std::unique_ptr<std::uint8_t[]> inBuffer_;
  std::unique_ptr<std::uint8_t[]> outBuffer_;
  std::unique_ptr<ImageReader> inReader_;
  std::unique_ptr<ImageWriter> outWriter_;
  std::unique_ptr<PartialOutput> outPartial_;
};

// Free bytes available to the calling user on the volume holding directory;
// 0 when the file system cannot tell.
std::uint64_t GetFreeSpace(const std::string& directory);

// Tests replace the free-space query to reach the "not enough space" path.
using FreeSpaceQuery = std::function<std::uint64_t(const std::string&)>;
void SetFreeSpaceQuery(FreeSpaceQuery query);

std::uint32_t SwapBytes32(std::uint32_t value);

}  // namespace trelvi
