// Test harness: raster streams written through libcups, PPD fixtures, and a
// runner for the built filter binary.
#ifndef INKBANDS_TESTS_HARNESS_H
#define INKBANDS_TESTS_HARNESS_H

#include <cups/raster.h>

#include <string>
#include <vector>

namespace harness {

// One page of a raster job: its header and cupsHeight lines of
// cupsBytesPerLine bytes (data may be shorter to simulate a truncated job).
struct Page {
  cups_page_header2_t header;
  std::vector<unsigned char> data;
};

// A page header with the fields the filter reads set to sane values:
// width x height pixels, colour space, bits per colour, resolution; the
// derived fields (cupsBitsPerPixel, cupsBytesPerLine, PageSize) are filled
// in for a banded page. Every field can be changed afterwards.
cups_page_header2_t MakeHeader(unsigned width, unsigned height,
                               cups_cspace_t space, unsigned bits,
                               unsigned xdpi, unsigned ydpi);

// Planes a line carries for a colour space (K: 1, KCMY: 4, KCMYcm: 6, ...).
unsigned PlanesOf(cups_cspace_t space);

// Recompute cupsBitsPerPixel and cupsBytesPerLine after width, bits or
// colour space changed (banded order: planes one after another).
void FixLineSize(cups_page_header2_t &header);

// A page whose every byte is produced by fill(line, byte index in line).
Page MakePage(const cups_page_header2_t &header,
              unsigned char (*fill)(unsigned line, unsigned index));

// Writes the pages as a CUPS raster stream with cupsRasterWriteHeader2 and
// cupsRasterWritePixels to a new file; returns its path.
std::string WriteRaster(const std::vector<Page> &pages);

// A page size of a PPD fixture, in points.
struct PpdSize {
  std::string name;
  float width, length;
  float left, bottom, right, top;  // imageable area
};

// The sizes most tests use: A4 first with a 36 pt bottom margin, then
// Letter with an 8.5 pt top margin (the second entry gives the top offset).
std::vector<PpdSize> DefaultSizes();

// Writes a minimal PPD with *cupsModelNumber and the given page sizes
// (*PageSize, *PaperDimension, *ImageableArea, *cupsFilter); returns its path.
std::string WritePpd(int model, const std::vector<PpdSize> &sizes);

// What one run of the filter gave back.
struct Result {
  std::string out;               // standard output, byte for byte
  std::vector<std::string> err;  // standard error, one entry per line
  int status = -1;               // exit status (or 128 + signal)
};

// Runs the filter with PPD set to ppd (unset when empty). With a raster
// path, it is passed as the sixth argument; with stdin_path, that file is
// standard input instead and only five arguments are given.
Result RunFilter(const std::string &ppd, const std::string &raster,
                 const std::string &stdin_path = "");

// Runs the filter with an explicit argument list (argv[0] is the binary).
Result RunFilterArgs(const std::vector<std::string> &args,
                     const std::string &ppd, const std::string &stdin_path);

// Bytes from hex text such as "1b 40 0c"; spaces and newlines are ignored.
std::string Hex(const std::string &text);

// Readable comparison of two printer streams: empty when equal, else the
// offset of the first differing byte and the bytes around it in hex.
std::string DiffStreams(const std::string &want, const std::string &got);

// Standard error lines with pointer values (0x...) replaced by "PTR".
std::vector<std::string> MaskPointers(const std::vector<std::string> &lines);

}  // namespace harness

#endif
