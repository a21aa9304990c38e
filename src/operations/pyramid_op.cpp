#include "operations/pyramid_op.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "engine/naming.h"
#include "engine/utils.h"
#include "operations/pyramid/dzi_layout.h"
#include "operations/pyramid/pyramid_builder.h"
#include "operations/pyramid/viewer_page.h"
#include "operations/run_guard.h"

namespace trelvi {

namespace fs = std::filesystem;

namespace {

// The names one run touches. The old pyramid's tiles move aside to
// "_files.replaced" while the new ones are renamed in, so the old pyramid
// goes only once the new one is whole.
struct PyramidNames {
  fs::path Dir, Descriptor, DescriptorPartial, Files, FilesPartial,
      FilesReplaced;
  std::string Base;

  PyramidNames(const std::string& outDir, const std::string& input) {
    Base = GetBaseName(input);
    Dir = outDir.empty() ? fs::path(input).parent_path() : fs::path(outDir);
    if (Dir.empty()) Dir = ".";
    Descriptor = Dir / (Base + ".dzi");
    DescriptorPartial = Dir / (Base + ".dzi.partial");
    Files = Dir / (Base + "_files");
    FilesPartial = Dir / (Base + "_files.partial");
    FilesReplaced = Dir / (Base + "_files.replaced");
  }
};

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

void RemoveAll(const fs::path& p) {
  std::error_code ec;
  fs::remove_all(p, ec);
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  return static_cast<bool>(out);
}

// One input row into the builder's row: alpha dropped when the tiles do
// not keep it, 16-bit samples (in the file's byte order) to 8 bits.
class RowFeeder {
 public:
  RowFeeder(const TFileInfo& in, int outChannels)
      : in_(in), outChannels_(outChannels) {
    if (in_.Bits == 16)
      wide_ = std::make_unique<std::uint16_t[]>(
          static_cast<std::size_t>(in_.Width) * outChannels_);
  }

  void Feed(std::uint8_t* out) const {
    const std::size_t w = in_.Width;
    const int inCh = in_.Channels;
    const std::uint8_t* src = in_.ScanLine;
    if (in_.Bits == 8) {
      if (inCh == outChannels_) {
        std::memcpy(out, src, w * inCh);
        return;
      }
      for (std::size_t x = 0; x < w; ++x, src += inCh, out += outChannels_)
        for (int c = 0; c < outChannels_; ++c) out[c] = src[c];
      return;
    }
    std::uint16_t* dst = wide_.get();
    const int lo = in_.IsLsb ? 0 : 1, hi = 1 - lo;
    for (std::size_t x = 0; x < w; ++x, src += 2 * inCh)
      for (int c = 0; c < outChannels_; ++c)
        *dst++ = static_cast<std::uint16_t>(src[2 * c + lo] |
                                            (src[2 * c + hi] << 8));
    pyramid::Convert16To8(wide_.get(), out, w * outChannels_);
  }

 private:
  const TFileInfo& in_;
  const int outChannels_;
  std::unique_ptr<std::uint16_t[]> wide_;
};

// Feeds every row; false when the run stopped (aborted, or a failure that
// was reported).
bool FeedRows(TTrelvi& e, pyramid::PyramidBuilder& builder, int channels) {
  const RowFeeder feeder(e.InInfo, channels);
  ops::CountdownText saving("Saving lines... (");
  const std::uint32_t h = e.InInfo.Height;
  for (std::uint32_t row = 0; row < h; ++row) {
    if (e.ReadLine(row) != static_cast<std::int32_t>(e.InInfo.ScanLineSize)) {
      ops::Fail(e, "Input file read error");
      return false;
    }
    feeder.Feed(builder.NextRow());
    if (!builder.CommitRow()) {
      ops::Fail(e, builder.Result().Error);
      return false;
    }
    if ((row + 1) % 7 == 0 || row + 1 == h) {
      e.DoUpdateProgress(static_cast<std::int32_t>(row + 1));
      if (e.Aborted) return false;
      e.DoStatus(saving(h - row));
    }
  }
  return !e.Aborted;
}

}  // namespace

std::string PyramidDescriptorFile(const std::string& outDir,
                                  const std::string& input) {
  return PyramidNames(outDir, input).Descriptor.string();
}

bool PyramidImage(TTrelvi& e, const PyramidRequest& request) {
  if (!FileExists(e.InInfo.FileName) || !e.InInfo.ImageIsOk) {
    ops::Fail(e, "File not found or bad file!");
    return false;
  }
  const PyramidNames names(request.OutDir, e.InInfo.FileName);
  const bool replacing = Exists(names.Descriptor) || Exists(names.Files);
  if (replacing &&
      e.Ui().ShowMessageDialog(
          "Output file exists. Do you want to overwrite it?", MsgIcon::Question,
          MsgButtons::YesNo) != MsgResult::Yes) {
    e.Aborted = true;
    return false;
  }

  ops::RunGuard run(e);
  if (!run.OpenInput()) {
    ops::Fail(e, "Error opening input file");
    return false;
  }

  pyramid::PyramidOptions options;
  options.Width = e.InInfo.Width;
  options.Height = e.InInfo.Height;
  options.Channels =
      request.Format == pyramid::TileFormat::Png && e.InInfo.Channels == 4 ? 4
                                                                           : 3;
  options.TileSize = request.TileSize;
  options.Overlap = request.Overlap;
  options.Encoding.Format = request.Format;
  options.Encoding.Quality = request.Quality;
  // The tiles are the photograph's pixels, so they keep its colours.
  if (e.InInfo.Metadata)
    options.Encoding.IccProfile = e.InInfo.Metadata->IccProfile;
  options.TilesDir = names.FilesPartial.string();
  options.Threads = request.Threads;

  // A ".partial" folder is what a run that never finished left behind.
  RemoveAll(names.FilesPartial);
  bool ok = false;
  {
    pyramid::PyramidBuilder builder(options);
    if (!builder.Start()) {
      ops::Fail(e, builder.Result().Error);
    } else {
      run.ShowProgress(static_cast<std::int32_t>(e.InInfo.Height),
                       request.Desc);
      if (FeedRows(e, builder, options.Channels)) {
        const pyramid::PyramidResult result = builder.Finish();
        if (result.Ok)
          ok = true;
        else
          ops::Fail(e, result.Error);
      } else {
        builder.Cancel();
      }
    }
  }
  run.Finish();
  if (!ok) {
    RemoveAll(names.FilesPartial);
    return false;
  }

  const std::string format = pyramid::FormatExtension(request.Format);
  const std::string descriptor =
      pyramid::Descriptor(format, request.Overlap, request.TileSize,
                          e.InInfo.Width, e.InInfo.Height);
  std::error_code ec;
  if (!WriteText(names.DescriptorPartial, descriptor)) {
    fs::remove(names.DescriptorPartial, ec);
    RemoveAll(names.FilesPartial);
    ops::Fail(e, "Write to file error");
    return false;
  }
  RemoveAll(names.FilesReplaced);
  if (Exists(names.Files)) fs::rename(names.Files, names.FilesReplaced, ec);
  if (!ec) fs::rename(names.FilesPartial, names.Files, ec);
  if (!ec) fs::rename(names.DescriptorPartial, names.Descriptor, ec);
  if (ec) {
    // Put the old pyramid back as it was.
    RemoveAll(names.DescriptorPartial);
    RemoveAll(names.FilesPartial);
    if (Exists(names.FilesReplaced)) {
      RemoveAll(names.Files);
      fs::rename(names.FilesReplaced, names.Files, ec);
    }
    ops::Fail(e, "Write to file error");
    return false;
  }
  RemoveAll(names.FilesReplaced);

  std::string pageError;
  if (request.ViewerScript.empty() || !FileExists(request.ViewerScript)) {
    e.DoStatus("Viewer script not found: the pyramid was written without " +
               std::string("its page"));
  } else if (!pyramid::WriteViewerPage(
                 names.Dir.string(), names.Base,
                 pyramid::ViewerPage(names.Base, format, request.Overlap,
                                     request.TileSize, e.InInfo.Width,
                                     e.InInfo.Height),
                 request.ViewerScript, pageError)) {
    e.DoStatus("The viewer page could not be written: " + pageError);
  }
  return true;
}

}  // namespace trelvi
