#include "engine/format_table.h"
#include "engine/formats/fixed_rows.h"
#include "engine/formats/kro/kro_format.h"
#include "engine/formats/raw/raw_format.h"
#include "engine/formats/tiff/tiff_format.h"
#include "engine/trelvi.h"

namespace trelvi {

void TTrelvi::ReadInputInfo(bool askUser) {
  InInfo.ImageIsOk = false;
  // Anything no format claims is no input: the rest of InInfo keeps its
  // values.
  if (const FormatUnit* unit = DetectFormat(InInfo.FileName))
    unit->Describe(InInfo, Ui(), askUser);
}

void TTrelvi::ReadKroInfo() { kro::Describe(InInfo, Ui(), false); }

void TTrelvi::ReadRawInfo(bool askUser) {
  raw::Describe(InInfo, Ui(), askUser);
}

void TTrelvi::ReadTiffInfo() { tiff::Describe(InInfo, Ui(), false); }

void TTrelvi::WriteKroHeader() {
  std::uint8_t header[kro::kHeaderSize];
  kro::MakeHeader(OutInfo.Width, OutInfo.Height, OutInfo.Bits, OutInfo.Channels,
                  header);
  if (auto* rows = dynamic_cast<FixedRowWriter*>(outWriter_.get()))
    rows->WriteHeader(header, kro::kHeaderSize);
}

}  // namespace trelvi
