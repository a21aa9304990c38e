#include "engine/formats/fixed_rows.h"

#include <cstring>

namespace trelvi {

FixedRowReader::FixedRowReader(const std::string& fileName,
                               std::uint32_t rowBytes,
                               std::uint64_t headerBytes)
    : rowBytes_(rowBytes), headerBytes_(headerBytes) {
  file_.Bind(fileName);
  if (file_.OpenRead(rowBytes) && headerBytes_ > 0)
    file_.Skip(static_cast<std::int64_t>(headerBytes_));
}

std::uint32_t FixedRowReader::ReadRow(std::uint32_t row, std::uint8_t* buffer,
                                      std::uint32_t rowBytes) {
  if (!buffer || rowBytes == 0) return 0;
  if (row != nextRow_) {
    // Rows stay below 2^32 and row sizes below 2^31, so the offset fits 64
    // bits. A place past the end is not an error of the seek: the read
    // there delivers nothing.
    const std::uint64_t offset = headerBytes_ + std::uint64_t{row} * rowBytes_;
    file_.Skip(static_cast<std::int64_t>(offset));
  }
  const std::size_t got = file_.Read(buffer, rowBytes);
  nextRow_ = std::uint64_t{row} + 1;
  // A short row may still be used: what the file did not hold reads as
  // black, never as the previous row or memory nobody wrote.
  if (got < rowBytes) std::memset(buffer + got, 0, rowBytes - got);
  return static_cast<std::uint32_t>(got);
}

std::unique_ptr<FixedRowWriter> FixedRowWriter::Create(
    const std::string& fileName, std::uint32_t rowBytes,
    const std::uint8_t* header, std::size_t headerBytes) {
  std::unique_ptr<FixedRowWriter> writer(new FixedRowWriter(rowBytes));
  writer->file_.Bind(fileName);
  if (!writer->file_.OpenWrite(rowBytes)) return nullptr;
  if (headerBytes > 0) writer->WriteHeader(header, headerBytes);
  return writer;
}

void FixedRowWriter::WriteHeader(const std::uint8_t* header,
                                 std::size_t headerBytes) {
  if (file_.Write(header, headerBytes) != headerBytes) file_.Fail();
}

bool FixedRowWriter::WriteRow(std::uint32_t, const std::uint8_t* data) {
  // A row that reached the file only in part is a failed row.
  return file_.Write(data, rowBytes_) == rowBytes_;
}

FinishResult FixedRowWriter::Finish() { return FinishResult{file_.Close()}; }

}  // namespace trelvi
