// Test harness: raster streams written through libcups, PPD fixtures, and a
// runner for the built filter binary.
#ifndef INKBANDS_TESTS_HARNESS_H
#define INKBANDS_TESTS_HARNESS_H

#include <cups/raster.h>

#include <string>
#include <vector>

#include "ppd_text.h"

namespace harness {

// One page of a raster job: its header and cupsHeight lines of
// cupsBytesPerLine bytes (data may be shorter to simulate a truncated job).
struct Page
{
  cups_page_header2_t header;
  std::vector<unsigned char> data;
};

// A page header with the fields the filter reads set to sane values:
// width x height pixels, colour space, bits per colour, resolution; the
// derived fields (cupsBitsPerPixel, cupsBytesPerLine, PageSize) are filled
// in for a banded page, NumCopies is 1. Every field can be changed
// afterwards.
cups_page_header2_t MakeHeader(unsigned width, unsigned height, cups_cspace_t space, unsigned bits,
                               unsigned xdpi, unsigned ydpi);

// Planes a line carries for a colour space (K: 1, KCMY: 4, KCMYcm: 6, ...).
unsigned PlanesOf(cups_cspace_t space);

// Recompute cupsBitsPerPixel and cupsBytesPerLine after width, bits or
// colour space changed (banded order: planes one after another).
void FixLineSize(cups_page_header2_t &header);

// A page whose every byte is produced by fill(line, byte index in line).
Page MakePage(const cups_page_header2_t &header,
              unsigned char (*fill)(unsigned line, unsigned index));

// A page of all-zero lines: nothing on it is printed.
Page BlankPage(const cups_page_header2_t &header);

// Writes the pages as a CUPS raster stream with cupsRasterWriteHeader2 and
// cupsRasterWritePixels to a new file (uncompressed, or as mode says);
// returns its path.
std::string WriteRaster(const std::vector<Page> &pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// Reads a raster stream back with cupsRasterReadHeader2 and
// cupsRasterReadPixels (for checking the harness itself).
std::vector<Page> ReadRaster(const std::string &path);

// The whole contents of a file, empty when it cannot be read.
std::string ReadFile(const std::string &path);

// Writes arbitrary bytes to a new file under the test directory; returns
// its path. The suffix only helps a reader of the directory.
std::string WriteFile(const std::string &bytes, const std::string &suffix);

// A path under the test directory that no file has yet.
std::string TempPath(const std::string &suffix);

// The sizes most tests use: A4 first with a 36 pt bottom margin, then
// Letter with an 8.5 pt top margin (the second entry gives the top offset).
std::vector<PpdSize> DefaultSizes();

// Writes PpdText(model, sizes) to a new file; returns its path.
std::string WritePpd(int model, const std::vector<PpdSize> &sizes);

// A test page described in words, for tables of cases:
//   "fam=7 res=1440x720 space=KCMY bits=8 comp=2 media=Plain mtype=0x1203
//    pos=33 cut=1 size=612x1000 weave=8/7/204 w=16 h=1 copies=2 ppd=low"
// fam is the PPD's model number; mtype is cupsMediaType, pos MediaPosition,
// cut CutMedia, size PageSize in points, weave cupsRowCount/cupsRowFeed/
// cupsRowStep; space is K, CMY, RGB, KCMY or KCMYcm; bpl, bpp and order set
// cupsBytesPerLine, cupsBitsPerPixel and cupsColorOrder as given, not
// derived. What is not named is
// family 4, 720 x 720 dpi, K, 1 bit, 16 x 1 pixels, A4 (595 x 842), no
// media settings, unwoven, and the default PPD sizes. The PPD sizes:
//   default   A4 (bottom 36), Letter (top margin 8.5)
//   low       A4 with a bottom of 35.9, Letter
//   lowsecond A4 (bottom 36), Letter with a bottom of 0
//   one       A4 (bottom 36) alone
//   onelow    A4 with a bottom of 10 alone
//   none      no sizes
//   tall      A4, Letter whose imageable top (800) lies above its length
//   three     A4, Legal (top margin 18), Letter
//   deep      A4, Letter declared 99999999 points long
struct TestPage
{
  int family;
  cups_page_header2_t header;
  std::vector<PpdSize> sizes;
};
TestPage DescribePage(const std::string &words);

// What one run of the filter gave back.
struct Result
{
  std::string out;               // standard output, byte for byte
  std::vector<std::string> err;  // standard error, one entry per line
  int status = -1;               // exit status (or 128 + signal)
  long peak_kb = 0;              // largest resident set (fork copies the test's pages)
};

// A printer slower than the filter, and a cancel sent while it prints: the
// printer data is read `chunk` bytes at a time with `pause_us` between
// reads, and once `signal_after` bytes have arrived the filter gets `signal`.
struct SlowPrinter
{
  size_t chunk;
  int pause_us;
  size_t signal_after;
  int signal;
};

// Where the printer data goes.
enum class Device
{
  kPipe,  // a pipe the test reads (as fast as it comes, or as a SlowPrinter)
  kFull,  // a device that takes no more data (/dev/full)
  kGone,  // a pipe whose reader has closed
};

// A standard input path that stands for a closed standard input.
inline const std::string kClosedInput = "(closed)";

// One run of the filter, or of another program of the print path:
//   RunFilter({ppd, raster})             the five CUPS arguments and the file
//   RunFilter({ppd, "", input})          the raster on standard input
//   RunFilter({ppd, "", "", args, bin})  an explicit argv (args[0] is argv[0])
struct Run
{
  Run(std::string ppd = "", std::string raster = "", std::string input = "",
      std::vector<std::string> args = {}, std::string binary = INKBANDS_BINARY,
      const SlowPrinter *slow = nullptr)
      : ppd(ppd), raster(raster), input(input), args(args), binary(binary), slow(slow)
  {}
  std::string ppd;                // PPD variable; unset when empty
  std::string raster;             // sixth argument when not empty (without args)
  std::string input;              // standard input; /dev/null when empty
  bool piped = false;             // standard input through a pipe, not from the file
  std::vector<std::string> args;  // the whole argument list, when not empty
  std::string binary;
  const SlowPrinter *slow;
  Device device = Device::kPipe;
  std::vector<std::string> env;  // NAME=value entries added to the test's own
  bool bounded = false;          // limit the address space as a small printer host would
};
Result RunFilter(const Run &run);

// Bytes from a stream written as hex words and commands: "1b 40 0c" or
//   ESC ( U 02 02 02 a0 05 | ESC i 02 01 02 0010 0004 | 01 02 ... | FF
// Two hex digits are a byte ("00*27" is 27 of them), four a 16-bit and
// eight a 32-bit little-endian field; ESC, FF and CR their control bytes;
// one other character its ASCII byte; "text" its bytes (\n a line feed);
// two capital letters a remote-mode command. ESC ( X and remote commands
// get their parameter length counted up to the next '|', ESC, FF, CR or
// remote command. Spaces, newlines, ',' and '|' separate words.
std::string Hex(const std::string &text);

// Bytes as spaced lower-case hex ("1b 40 0c").
std::string ToHex(const std::string &bytes);

// Readable comparison of two printer streams: empty when equal, else the
// offset of the first differing byte, and the command of each stream that
// holds it and the command before it, as words (see Hex).
std::string DiffStreams(const std::string &want, const std::string &got);

// Standard error lines with pointer values (0x and six or more hex digits)
// replaced by "PTR"; "(nil)" and short numbers such as 0x720 stay.
std::vector<std::string> MaskPointers(const std::vector<std::string> &lines);

// Readable comparison of standard error: empty when equal, else the first
// differing line of each and its number.
std::string DiffLines(const std::vector<std::string> &want, const std::vector<std::string> &got);

// The 40 lines with which the filter logs a page header, field by field in
// the header's order.
std::vector<std::string> HeaderDump(const cups_page_header2_t &header);

// One run of a dot lookup table: cells first..last hold dot level `level`,
// whose nominal value is `value` (the cell's error is its index minus it).
struct LutRun
{
  int first, last, level, value;
};

// The 32 "DEBUG:" lines of a dumped lookup table of 256 cells made of the
// given runs; cells no run covers hold [0 0], and cell 0 has error 0.
std::vector<std::string> LutDump(const std::vector<LutRun> &runs);

}  // namespace harness

#endif
