#pragma once

// Rows of a fixed size stored one after the other behind a header of a
// fixed size: the layout RAW and KRO share.

#include <cstdint>
#include <string>

#include "engine/image_format.h"
#include "engine/seq_file.h"

namespace trelvi {

// Reads such a file at any row. Row r starts at headerBytes + r × rowBytes
// (64-bit offsets); the stream moves only when the asked row is not the one
// after the last read, so reading in order never seeks.
class FixedRowReader : public ImageReader {
 public:
  // A file that cannot be opened gives a reader whose every row is 0 bytes:
  // the failure shows at the first read, not at the open.
  FixedRowReader(const std::string& fileName, std::uint32_t rowBytes,
                 std::uint64_t headerBytes);

  std::uint32_t ReadRow(std::uint32_t row, std::uint8_t* buffer,
                        std::uint32_t rowBytes) override;

 private:
  SeqFile file_;
  std::uint64_t rowBytes_;
  std::uint64_t headerBytes_;
  // The row the stream stands at; 2^32 after the last possible row.
  std::uint64_t nextRow_ = 0;
};

// Writes such a file: the header (when there is one) at creation, then row
// after row.
class FixedRowWriter : public ImageWriter {
 public:
  // Null when the file cannot be created. A header that does not reach the
  // file leaves the writer failed, so its first row reports it.
  static std::unique_ptr<FixedRowWriter> Create(const std::string& fileName,
                                                std::uint32_t rowBytes,
                                                const std::uint8_t* header,
                                                std::size_t headerBytes);

  bool WriteRow(std::uint32_t row, const std::uint8_t* data) override;
  FinishResult Finish() override;

  // Writes further header bytes at the current place (a failure fails the
  // writer, as above).
  void WriteHeader(const std::uint8_t* header, std::size_t headerBytes);

 private:
  explicit FixedRowWriter(std::uint32_t rowBytes) : rowBytes_(rowBytes) {}
  SeqFile file_;
  std::uint32_t rowBytes_;
};

}  // namespace trelvi
