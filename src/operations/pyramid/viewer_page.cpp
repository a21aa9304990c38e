#include "operations/pyramid/viewer_page.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace trelvi::pyramid {

namespace {

std::string HtmlText(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A relative URL for a file name: every byte but the unreserved ones
// percent-encoded, which also makes it safe inside a script's string.
std::string UrlPath(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
        c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string ViewerPage(std::string_view baseName, std::string_view format,
                       std::uint32_t overlap, std::uint32_t tileSize,
                       std::uint64_t width, std::uint64_t height) {
  std::string page =
      "<!DOCTYPE html>\n"
      "<html>\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<title>" +
      HtmlText(baseName) +
      "</title>\n"
      "<style>html, body { margin: 0; height: 100%; background: #000; }\n"
      "#viewer { width: 100%; height: 100%; }</style>\n"
      "<script src=\"" +
      std::string(kViewerScriptName) +
      "\"></script>\n"
      "</head>\n"
      "<body>\n"
      "<div id=\"viewer\"></div>\n"
      "<script>\n"
      "OpenSeadragon({\n"
      "  id: \"viewer\",\n"
      // The buttons need image files of their own; wheel, drag and pinch
      // zoom without them.
      "  showNavigationControl: false,\n"
      "  tileSources: {\n"
      "    Image: {\n"
      "      xmlns: \"http://schemas.microsoft.com/deepzoom/2008\",\n"
      "      Url: \"" +
      UrlPath(std::string(baseName) + "_files") +
      "/\",\n"
      "      Format: \"" +
      std::string(format) + "\",\n      Overlap: \"" + std::to_string(overlap) +
      "\",\n      TileSize: \"" + std::to_string(tileSize) +
      "\",\n      Size: { Width: \"" + std::to_string(width) +
      "\", Height: \"" + std::to_string(height) +
      "\" }\n"
      "    }\n"
      "  }\n"
      "});\n"
      "</script>\n"
      "</body>\n"
      "</html>\n";
  return page;
}

bool WriteViewerPage(const std::string& dir, const std::string& baseName,
                     const std::string& page, const std::string& viewerScript,
                     std::string& error) {
  namespace fs = std::filesystem;
  const fs::path script = fs::path(dir) / kViewerScriptName;
  const fs::path html = fs::path(dir) / (baseName + ".html");
  std::error_code ec;
  // Pages of several pyramids in one folder share the script: a failure
  // removes it only if this call put it there.
  const bool hadScript = fs::exists(script, ec);
  fs::copy_file(viewerScript, script, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    if (!hadScript) fs::remove(script, ec);
    error = "Cannot copy the viewer " + viewerScript + ": " + ec.message();
    return false;
  }
  std::FILE* f = std::fopen(html.c_str(), "wb");
  bool ok = f && std::fwrite(page.data(), 1, page.size(), f) == page.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) {
    fs::remove(html, ec);
    if (!hadScript) fs::remove(script, ec);
    error = "Cannot write " + html.string();
    return false;
  }
  return true;
}

}  // namespace trelvi::pyramid
