// What the filter is expected to send and say at job level, written by hand
// as the printer and the printing system read it. Shared by the end-to-end
// tests so that a message changes in one place.
#ifndef INKBANDS_TESTS_EXPECT_H
#define INKBANDS_TESTS_EXPECT_H

#include <string>
#include <vector>

namespace expect {

// Job start for the older families (below 5000): leave IEEE 1284.4 packet
// mode through the Epson job language, then reset.
//   00 00 00 ESC 01, "@EJL 1284.4" LF, "@EJL" five spaces LF, ESC @
inline const std::string kJobStartEjl =
    "00 00 00 | ESC 01 | \"@EJL 1284.4\\n\" | \"@EJL     \\n\" | ESC @ | ";

// The large-format families (5000 and above) send nothing at job start.
inline const std::string kJobStartNone = "";

// Job end: reset; the large-format families also restore the printer's
// defaults in remote mode (ESC ( R "REMOTE1", LD, ESC 00 00 00).
inline const std::string kJobEndReset = " | ESC @";
inline const std::string kJobEndRemote =
    " | ESC @ | ESC ( R 00 52 45 4d 4f 54 45 31 | LD | ESC 00 00 00";

// The form feed that ejects every page.
inline const std::string kFormFeed = " | FF";

// Messages on standard error.
inline const std::string kUsage = "ERROR: inkbands job-id user title copies options [file]";
inline const std::string kNoPages = "ERROR: No pages found!";
inline const std::string kNoPpd =
    "ERROR: No PPD file specified (set the PPD environment variable).";
inline const std::string kBadPpdPrefix = "ERROR: Unable to open PPD file";
inline const std::string kRasterMissing =
    "ERROR: Unable to open raster file - No such file or directory";
inline const std::string kNotRaster = "ERROR: Unable to read raster data.";

// "ERROR: Page N: unsupported resolution XxY dpi."
inline std::string BadResolution(int page, unsigned x, unsigned y)
{
  return "ERROR: Page " + std::to_string(page) + ": unsupported resolution " + std::to_string(x) +
         "x" + std::to_string(y) + " dpi.";
}

// Page messages of the job loop.
inline std::vector<std::string> PageOpen(int page, int copies)
{
  return {"PAGE: " + std::to_string(page) + " " + std::to_string(copies),
          "INFO: Starting page " + std::to_string(page) + "..."};
}
inline std::string Progress(int page, int percent)
{
  return "INFO: Printing page " + std::to_string(page) + ", " + std::to_string(percent) +
         "% complete...";
}
inline std::string PageDone(int page)
{
  return "INFO: Finished page " + std::to_string(page) + "...";
}

inline std::string BitPlanes(int bits)
{
  return "DEBUG: BitPlanes = " + std::to_string(bits);
}

// The band geometry every page logs, then its family.
struct Geometry
{
  int buffer_size, col_step, row_max, row_step, row_feed, row_count;
};
inline std::vector<std::string> PoolHead(const Geometry &g, int family)
{
  return {
      "DEBUG: DotBufferSize = " + std::to_string(g.buffer_size),
      "DEBUG: DotColStep = " + std::to_string(g.col_step),
      "DEBUG: DotRowMax = " + std::to_string(g.row_max),
      "DEBUG: DotRowStep = " + std::to_string(g.row_step),
      "DEBUG: DotRowFeed = " + std::to_string(g.row_feed),
      "DEBUG: DotRowCount = " + std::to_string(g.row_count),
      "DEBUG: model_number = " + std::to_string(family),
  };
}

// A band as the page start places it, or as a blank band is advanced.
struct Band
{
  int slot, plane, x, y, count;
};
inline std::string PlacedBand(const Band &b)
{
  return "DEBUG: DotBands[" + std::to_string(b.slot) + "][" + std::to_string(b.plane) +
         "] = PTR, x = " + std::to_string(b.x) + ", y = " + std::to_string(b.y) +
         ", plane = " + std::to_string(b.plane) + ", count = " + std::to_string(b.count);
}
inline std::string RowOffset(int plane, int offset)
{
  return "DEBUG: DotRowOffset[" + std::to_string(plane) + "] = " + std::to_string(offset);
}
// The pool's pointer dump (pointers masked), with `bands` records listed.
inline std::vector<std::string> PointerList(const std::string &when, int bands)
{
  std::vector<std::string> lines = {"Pointer list at " + when + " of page..."};
  lines.insert(lines.end(), bands, "PTR");
  lines.push_back("----END----");
  return lines;
}

}  // namespace expect

#endif
