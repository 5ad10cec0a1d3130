// The preview decoder: reads the ESC/P2 command stream the filter sends to
// the printer and lays every dot it would print into one grid per page.
#ifndef INKBANDS_TOOLS_PREVIEW_H
#define INKBANDS_TOOLS_PREVIEW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace preview {

// The inks a page can print, in the plane order of a six-ink page (a
// four-ink page uses the first four, a three-ink page cyan to yellow).
enum Ink
{
  kBlack,
  kCyan,
  kMagenta,
  kYellow,
  kLightCyan,
  kLightMagenta,
  kInks
};

// Positions are counted in 1/kFineUnit inch: every unit base the printer
// commands use (3600, 2880, 1440, 14400 and their divisors) divides it.
const int kFineUnit = 14400;

// One printed page: per ink, the dot level at every dot position of the
// page's grid. Row 0 is the first print position of the page (the position
// set by its first absolute vertical move); column 0 is the left margin.
struct Page
{
  int width = 0;    // dot columns covered by raster rows (zero dots included)
  int height = 0;   // raster rows covered by raster rows
  int x_pitch = 0;  // distance between two columns, in 1/kFineUnit inch
  int y_pitch = 0;  // distance between two rows, in 1/kFineUnit inch
  // width x height levels per ink, row after row: 0 no dot, 1 to 3 the dot
  // size (1 is the only size of 1-bit rows). Empty when no raster command
  // of the page used the ink.
  std::vector<uint8_t> levels[kInks];
  int bits[kInks] = {};               // bits per dot the ink was sent with, 0 if unused
  int paper_width = 0;                // columns of the paper dimension command, 0 if none
  int form_height = 0;                // rows from row 0 to the bottom margin, 0 if unknown
  long overprinted = 0;               // dot positions that more than one raster row wrote
  std::vector<std::string> warnings;  // positions that fall between dots, ...
};

// Formats a dump line or a message, as printf would, up to 511 bytes.
std::string Say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// One decoded command: where it starts, how long it is, what it does (the
// dump) and how it is written, one word a byte or field:
//   ESC ( U 02 02 02 a0 05          ESC ( and its letter; the length is left out
//   ESC i 02 01 02 0010 0004 <64 bytes>
//                                   raster command: 16-bit fields as 4 hex
//                                   digits, the data as its size in the stream
//                                   (", blank" when no row holds a dot)
//   ST 00 00                        a remote-mode command, length left out
//   ESC 00*27  FF  CR  "@EJL\n"     NUL runs, control bytes, job-language lines
struct Command
{
  size_t offset = 0;
  size_t length = 0;
  std::string text;
  std::string words;
};

// What the stream cannot tell and the reader may.
//
// Rows of the grid are the vertical unit of ESC ( U (one raster row).
// Columns are the horizontal unit of a five-byte ESC ( U; a printer set up
// with the one-byte form names no horizontal resolution, and then the
// closest dot spacing of the page's ESC . commands is one column (right for
// lines and for bands without a horizontal interleave; give xdpi for the
// others). A position between two grid dots is rounded down and reported
// in the page's warnings.
//
// ESC . carries a dot count that is the row's bytes times 8 whatever the
// dot depth, so the depth cannot be read from it: rows are read as 1-bit
// dots unless a variable dot size (ESC ( e code 10 hex or above) is
// selected, when each byte holds four 2-bit dots.
struct DecodeOptions
{
  int xdpi = 0;                // columns per inch of the grid; 0: from the stream
  int ydpi = 0;                // rows per inch of the grid; 0: the vertical unit
  int escdot_bits = 0;         // bits per dot of ESC . rows; 0: from the dot size
  bool commands_only = false;  // read the commands, lay no dot into a grid
};

// The outcome of decoding one stream.
struct Decoded
{
  std::vector<Page> pages;        // every page ended before any error
  std::vector<Command> commands;  // every command decoded before any error
  std::string error;              // empty when the whole stream decoded
  size_t error_offset = 0;        // byte offset of the faulty command
};

// Decodes a printer stream into pages and commands; false on a stream it
// cannot decode (out->error and out->error_offset say why and where).
bool DecodeStream(const std::string &stream, const DecodeOptions &options, Decoded *out);

// The commands of a printer stream as far as it can be read; what follows a
// command the reader cannot decode is one last entry of words "?? N bytes".
std::vector<Command> ReadCommands(const std::string &stream);

// Decodes a printer stream with the defaults; on failure returns no page and
// sets *error (when given) to "offset N: reason".
std::vector<Page> DecodeStream(const std::string &stream, std::string *error);

// Expands PackBits data from stream[*pos] until out holds length bytes;
// *pos moves past the data. False (with *error) on a run that goes past
// length or data that ends early.
bool UnpackBits(const std::string &stream, size_t *pos, size_t length, std::string *out,
                std::string *error);

// The level of one dot of a page, 0 outside the grid or for an unused ink.
int DotLevel(const Page &page, int ink, int row, int col);

// The ink's name as the dump and the image files use it ("light-cyan").
const char *InkName(int ink);

// Dots per inch of a grid pitch (x_pitch or y_pitch).
double PitchDpi(int pitch);

// The image scale that keeps a page's picture at most a few thousand
// pixels wide.
int DefaultScale(const Page &page);

// Width and height of a page's picture at a scale (scale x scale dots per
// pixel), never less than 1; the paper size widens it when known.
int ImageWidth(const Page &page, int scale);
int ImageHeight(const Page &page, int scale);

// Renders one picture row: with ink < 0 the inks mixed on white paper as RGB
// (3 bytes a pixel), else that ink's coverage as grey (1 byte a pixel, white
// where there is no ink). out holds ImageWidth pixels.
void RenderRow(const Page &page, int scale, int ink, int row, uint8_t *out);

}  // namespace preview

#endif
