// The preview decoder: walks the ESC/P2 command stream the filter writes,
// keeps the printer's units, position and colour as the printer would, and
// lays the dots of every raster command into the page's grid.
#include "preview.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace preview {
namespace {

const int64_t kDefaultUnit = kFineUnit / 360;  // units before any ESC ( U
const int64_t kMaxExtent = 1 << 18;            // rows or columns of a page
const uint64_t kMaxCells = uint64_t(1) << 30;  // dots of one ink on a page
const uint8_t kWritten = 0x80;                 // a raster row reached the dot

// One raster command of a page, waiting for the page's grid.
struct RasterBlock
{
  size_t offset = 0;   // where the command starts in the stream
  size_t command = 0;  // its entry in the command list
  int ink = kBlack;
  int bits = 1;  // bits per dot
  int rows = 0;
  int dots = 0;             // dots per row
  int bytes = 0;            // bytes per row
  int64_t x = 0;            // distance from the left margin, fine units
  int64_t x_dots = 0;       // further whole columns (the ESC ( e offset)
  int64_t y = 0;            // print position of the first row, fine units
  int64_t row_step = 0;     // fine units between two rows
  int64_t dot_step = 0;     // fine units between two dots of a row
  bool whole_3600 = false;  // spacings in whole 1/3600 inch (ESC .)
  std::string data;         // rows x bytes, expanded
};

// The printer's state at one point of the stream, and the page being built.
struct Decoder
{
  const std::string *stream = nullptr;
  DecodeOptions options;
  Decoded *out = nullptr;
  size_t pos = 0;
  // Units of the position commands, fine units (ESC ( U).
  int64_t page_unit = kDefaultUnit;
  int64_t vertical_unit = kDefaultUnit;
  int64_t horizontal_unit = kDefaultUnit;
  bool own_horizontal_unit = false;  // the five-byte ESC ( U named one
  // Raster unit of ESC i rows and dots (ESC ( D); 0 until set.
  int64_t raster_row = 0;
  int64_t raster_dot = 0;
  int colour = kBlack;  // ink of ESC . rows (ESC r, ESC ( r)
  int dot_size = 0;     // code of the last ESC ( e
  int64_t x = 0;        // horizontal position from the left margin, fine
  int64_t x_dots = 0;   // ESC ( e offset in columns
  int64_t y = 0;        // vertical position from the top of form, fine
  // The page being built.
  bool has_origin = false;
  int64_t origin = 0;       // fine position of row 0
  int64_t grid_row = 0;     // vertical unit when the first raster came
  int64_t grid_dot = 0;     // own horizontal unit then, 0 if none
  int64_t paper_width = 0;  // fine, 0 when unknown
  int64_t form_bottom = 0;  // fine, 0 when unknown
  std::vector<RasterBlock> blocks;
  bool remote = false;  // inside ESC ( R ... ESC 00 00 00
};

}  // namespace

// Formats a dump line or a message.
std::string Say(const char *format, ...)
{
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  return text;
}

namespace {

// Records why the stream cannot be decoded and where; always false.
bool Fail(Decoder &d, size_t offset, const std::string &why)
{
  d.out->error = why;
  d.out->error_offset = offset;
  return false;
}

// The byte at an offset of the stream.
unsigned Byte(const Decoder &d, size_t at)
{
  return static_cast<unsigned char>((*d.stream)[at]);
}

// A little-endian 16-bit parameter.
unsigned Get16(const Decoder &d, size_t at)
{
  return Byte(d, at) | Byte(d, at + 1) << 8;
}

// A little-endian 32-bit parameter.
uint32_t Get32(const Decoder &d, size_t at)
{
  return Get16(d, at) | uint32_t(Get16(d, at + 2)) << 16;
}

// Checks that count bytes are left for the command starting at start.
bool Need(Decoder &d, size_t start, size_t count, const char *what)
{
  size_t left = d.stream->size() - d.pos;
  if (left >= count) return true;
  return Fail(
      d, start,
      Say("%s is cut short: it needs %zu more bytes, the stream has %zu", what, count, left));
}

// The bytes [from, to) of a stream as two-digit hex words.
std::string HexWords(const std::string &s, size_t from, size_t to)
{
  std::string words;
  for (size_t i = from; i < to; i++) words += Say(" %02x", static_cast<unsigned char>(s[i]));
  return words;
}

// A 16-bit little-endian field as one four-digit hex word.
std::string Word16(const std::string &s, size_t at)
{
  return Say(" %04x", static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1])
                                                              << 8);
}

// A run of n NUL bytes: listed when short, else as 00*n.
std::string NulWords(size_t n)
{
  return n > 3 ? Say(" 00*%zu", n) : HexWords(std::string(n, '\0'), 0, n);
}

// A command as the printer's manual writes it (see Command::words): the
// parameter length of ESC ( and remote commands is left out, since it
// follows from the parameters; raster data is told by its size.
std::string Spell(const std::string &s, size_t at, size_t length, bool remote, bool blank)
{
  size_t end = at + length;
  unsigned c = static_cast<unsigned char>(s[at]);
  auto data = [&](size_t from) {
    return Say(" <%zu bytes%s>", end - from, blank ? ", blank" : "");
  };
  if (remote && c != 0x1B) return s.substr(at, 2) + HexWords(s, at + 4, end);
  if (c == 0x0C) return "FF";
  if (c == 0x0D) return "CR";
  if (c == 0x00) return NulWords(length).substr(1);
  if (c == '@') return "\"" + s.substr(at, length - 1) + "\\n\"";
  unsigned e = static_cast<unsigned char>(s[at + 1]);
  switch (e) {
  case '(': return "ESC ( " + s.substr(at + 2, 1) + HexWords(s, at + 5, end);
  case 'i':
    return "ESC i" + HexWords(s, at + 2, at + 5) + Word16(s, at + 5) + Word16(s, at + 7) +
           data(at + 9);
  case '.': return "ESC ." + HexWords(s, at + 2, at + 6) + Word16(s, at + 6) + data(at + 8);
  case '\\': return "ESC \\" + Word16(s, at + 2);
  case 0x00: return "ESC" + NulWords(length - 1);
  default:
    if (e > 0x20 && e < 0x7F) return "ESC " + s.substr(at + 1, 1) + HexWords(s, at + 2, end);
    return "ESC" + HexWords(s, at + 1, end);
  }
}

// Adds the command that ends at the current position to the command list;
// returns its index.
size_t Note(Decoder &d, size_t offset, const std::string &text, bool blank = false)
{
  size_t length = d.pos > offset ? d.pos - offset : 0;
  std::string words = length ? Spell(*d.stream, offset, length, d.remote, blank) : "";
  d.out->commands.push_back({offset, length, text, words});
  return d.out->commands.size() - 1;
}

// Converts value units of 1/base inch to fine units; false when base does
// not divide the fine unit.
bool FineUnits(unsigned base, int64_t value, int64_t *fine)
{
  if (base == 0 || kFineUnit % base != 0) return false;
  *fine = value * (kFineUnit / base);
  return true;
}

// Printer reset (ESC @): default units, black, no raster unit or dot size.
void ResetPrinter(Decoder &d)
{
  d.page_unit = d.vertical_unit = d.horizontal_unit = kDefaultUnit;
  d.own_horizontal_unit = false;
  d.raster_row = d.raster_dot = 0;
  d.colour = kBlack;
  d.dot_size = 0;
  d.x = d.x_dots = 0;
}

// The ink of an ESC i colour code or an ESC r code with the light bit; -1
// when the printer has no such ink here.
int InkOfCode(unsigned code)
{
  switch (code) {
  case 0x00: return kBlack;
  case 0x01: return kMagenta;
  case 0x02: return kCyan;
  case 0x04: return kYellow;
  case 0x11: return kLightMagenta;
  case 0x12: return kLightCyan;
  default: return -1;
  }
}

// Reads the data of a raster command, raw or PackBits, into block->data.
bool ReadRasterData(Decoder &d, size_t start, bool packed, RasterBlock *block)
{
  size_t length = size_t(block->rows) * block->bytes;
  if (!packed) {
    if (!Need(d, start, length, "raster data")) return false;
    block->data = d.stream->substr(d.pos, length);
    d.pos += length;
    return true;
  }
  std::string why;
  if (!UnpackBits(*d.stream, &d.pos, length, &block->data, &why))
    return Fail(d, start, "raster data: " + why);
  return true;
}

// Files a raster command's rows at the current position and moves the head
// past them, as the printer does after a graphics command.
void AddBlock(Decoder &d, RasterBlock block)
{
  if (!d.has_origin) {
    d.has_origin = true;
    d.origin = 0;
  }
  if (d.blocks.empty() && d.grid_row == 0) {
    d.grid_row = d.vertical_unit;
    d.grid_dot = d.own_horizontal_unit ? d.horizontal_unit : 0;
  }
  block.x = d.x;
  block.x_dots = d.x_dots;
  block.y = d.y;
  d.x += int64_t(block.dots) * block.dot_step;
  d.blocks.push_back(std::move(block));
}

// ESC . : rows of 1-bit (or 2-bit) dots in the current colour, with the row
// and dot spacing in 1/3600 inch.
bool DecodeLineRaster(Decoder &d, size_t start)
{
  if (!Need(d, start, 8, "ESC .")) return false;
  unsigned packed = Byte(d, start + 2), v = Byte(d, start + 3), h = Byte(d, start + 4),
           rows = Byte(d, start + 5);
  unsigned count = Get16(d, start + 6);
  if (packed > 1)
    return Fail(d, start, Say("ESC . with compression mode %u (only 0 and 1 are sent)", packed));
  if (h == 0 || (v == 0 && rows > 1))
    return Fail(d, start, Say("ESC . with a spacing of 0 (rows %u/3600, dots %u/3600 in)", v, h));
  d.pos += 8;
  RasterBlock block;
  block.offset = start;
  block.ink = d.colour;
  block.bits = d.options.escdot_bits ? d.options.escdot_bits : (d.dot_size >= 0x10 ? 2 : 1);
  block.rows = int(rows);
  block.bytes = int((count + 7) / 8);
  block.dots = block.bits == 1 ? int(count) : block.bytes * 4;
  block.row_step = int64_t(v) * (kFineUnit / 3600);
  block.dot_step = int64_t(h) * (kFineUnit / 3600);
  block.whole_3600 = true;
  if (!ReadRasterData(d, start, packed != 0, &block)) return false;
  bool blank = block.data.find_first_not_of('\0') == std::string::npos;
  block.command = Note(d, start,
                       Say("ESC . %s, %s, %d-bit, %u x %d dots (%d bytes a row), rows %u/3600 in "
                           "apart, dots %u/3600 in apart",
                           InkName(block.ink), packed ? "PackBits" : "raw", block.bits, rows,
                           block.dots, block.bytes, v, h),
                       blank);
  AddBlock(d, std::move(block));
  return true;
}

// ESC i : rows of one colour at the raster unit of ESC ( D.
bool DecodeBandRaster(Decoder &d, size_t start)
{
  if (!Need(d, start, 9, "ESC i")) return false;
  unsigned code = Byte(d, start + 2), packed = Byte(d, start + 3), bits = Byte(d, start + 4);
  unsigned bytes = Get16(d, start + 5), rows = Get16(d, start + 7);
  int ink = InkOfCode(code);
  if (ink < 0) return Fail(d, start, Say("ESC i with colour code %02X, which names no ink", code));
  if (packed > 1)
    return Fail(d, start, Say("ESC i with compression mode %u (only 0 and 1 are sent)", packed));
  if (bits != 1 && bits != 2)
    return Fail(d, start, Say("ESC i with %u bits per dot (only 1 and 2 exist)", bits));
  d.pos += 9;
  RasterBlock block;
  block.offset = start;
  block.ink = ink;
  block.bits = int(bits);
  block.rows = int(rows);
  block.bytes = int(bytes);
  block.dots = int(bytes * 8 / bits);
  // Without ESC ( D the rows and dots take the page's own units.
  block.row_step = d.raster_row ? d.raster_row : d.vertical_unit;
  block.dot_step = d.raster_dot ? d.raster_dot : d.horizontal_unit;
  if (!ReadRasterData(d, start, packed != 0, &block)) return false;
  bool blank = block.data.find_first_not_of('\0') == std::string::npos;
  block.command = Note(d, start,
                       Say("ESC i %s, %s, %u-bit, %u x %u bytes (%d dots a row)", InkName(ink),
                           packed ? "PackBits" : "raw", bits, rows, bytes, block.dots),
                       blank);
  AddBlock(d, std::move(block));
  return true;
}

// ESC ( R ... ESC 00 00 00: the remote-mode block with its two-letter
// commands (media, paper source, size, cutter, defaults).
bool DecodeRemote(Decoder &d, size_t start, unsigned length)
{
  static const char kRemote[] = "\0REMOTE1";
  if (length != 8 || d.stream->compare(start + 5, 8, std::string(kRemote, 8)) != 0)
    return Fail(d, start, "ESC ( R does not enter remote mode with REMOTE1");
  d.pos = start + 13;
  Note(d, start, "ESC ( R enter remote mode");
  d.remote = true;
  for (;;) {
    size_t at = d.pos;
    if (d.pos >= d.stream->size())
      return Fail(d, at, "the stream ends in remote mode, without ESC 00 00 00");
    if (Byte(d, at) == 0x1B) {
      if (!Need(d, at, 4, "leaving remote mode")) return false;
      if (Get16(d, at + 1) != 0 || Byte(d, at + 3) != 0)
        return Fail(d, at, "an escape inside remote mode that is not ESC 00 00 00");
      d.pos += 4;
      Note(d, at, "ESC 00 00 00 leave remote mode");
      d.remote = false;
      return true;
    }
    if (!Need(d, at, 4, "a remote command")) return false;
    char a = char(Byte(d, at)), b = char(Byte(d, at + 1));
    if (a < 'A' || a > 'Z' || b < 'A' || b > 'Z')
      return Fail(d, at,
                  Say("byte %02X %02X is not a remote command", Byte(d, at), Byte(d, at + 1)));
    unsigned count = Get16(d, at + 2);
    d.pos += 4;
    if (!Need(d, at, count, "a remote command's parameters")) return false;
    std::string text = Say("  remote %c%c", a, b);
    for (unsigned i = 0; i < count; i++) text += Say(" %02X", Byte(d, d.pos + i));
    d.pos += count;
    Note(d, at, text);
  }
}

// ESC ( with a letter, a 16-bit parameter length and the parameters.
bool DecodeParameterCommand(Decoder &d, size_t start)
{
  if (!Need(d, start, 5, "ESC (")) return false;
  char letter = char(Byte(d, start + 2));
  unsigned length = Get16(d, start + 3);
  d.pos += 5;
  if (!Need(d, start, length, Say("ESC ( %c", letter).c_str())) return false;
  size_t p = d.pos;  // first parameter byte
  if (letter == 'R') return DecodeRemote(d, start, length);
  d.pos += length;
  // Each command allows the parameter lengths the printer defines for it.
  auto sized = [&](unsigned a, unsigned b) {
    if (length == a || length == b) return true;
    return Fail(d, start, Say("ESC ( %c with %u parameter bytes", letter, length));
  };
  switch (letter) {
  case 'G':
    if (!sized(1, 1)) return false;
    Note(d, start, Say("ESC ( G graphics mode %u", Byte(d, p)));
    return true;
  case 'U':
    if (!sized(1, 5)) return false;
    if (length == 1) {
      unsigned u = Byte(d, p);
      if (u == 0) return Fail(d, start, "ESC ( U with a unit of 0");
      d.page_unit = d.vertical_unit = d.horizontal_unit = int64_t(u) * (kFineUnit / 3600);
      d.own_horizontal_unit = false;
      Note(d, start, Say("ESC ( U unit %u/3600 in", u));
    } else {
      unsigned pu = Byte(d, p), vu = Byte(d, p + 1), hu = Byte(d, p + 2), base = Get16(d, p + 3);
      int64_t page, vertical, horizontal;
      if (pu == 0 || vu == 0 || hu == 0 || !FineUnits(base, pu, &page) ||
          !FineUnits(base, vu, &vertical) || !FineUnits(base, hu, &horizontal))
        return Fail(d, start, Say("ESC ( U with units %u %u %u of 1/%u in", pu, vu, hu, base));
      d.page_unit = page;
      d.vertical_unit = vertical;
      d.horizontal_unit = horizontal;
      d.own_horizontal_unit = true;
      Note(d, start,
           Say("ESC ( U units of 1/%u in: page %u, vertical %u, horizontal %u", base, pu, vu, hu));
    }
    return true;
  case 'S': {
    if (!sized(8, 8)) return false;
    uint32_t width = Get32(d, p), length32 = Get32(d, p + 4);
    d.paper_width = int64_t(width) * d.page_unit;
    Note(d, start, Say("ESC ( S paper %u x %u page units", width, length32));
    return true;
  }
  case 'C':
    if (!sized(2, 4)) return false;
    Note(d, start, Say("ESC ( C page length %u", length == 2 ? Get16(d, p) : Get32(d, p)));
    return true;
  case 'c': {
    if (!sized(4, 8)) return false;
    uint32_t top = length == 4 ? Get16(d, p) : Get32(d, p);
    uint32_t bottom = length == 4 ? Get16(d, p + 2) : Get32(d, p + 4);
    d.form_bottom = int64_t(bottom) * d.page_unit;
    Note(d, start, Say("ESC ( c page format: top %u, bottom %u", top, bottom));
    return true;
  }
  case 'V': {
    if (!sized(2, 4)) return false;
    uint32_t n = length == 2 ? Get16(d, p) : Get32(d, p);
    d.y = int64_t(n) * d.page_unit;
    if (!d.has_origin) {
      d.has_origin = true;
      d.origin = d.y;
    }
    Note(d, start, Say("ESC ( V vertical position %u", n));
    return true;
  }
  case 'v': {
    if (!sized(2, 4)) return false;
    uint32_t n = length == 2 ? Get16(d, p) : Get32(d, p);
    d.y += int64_t(n) * d.vertical_unit;
    Note(d, start, Say("ESC ( v feed %u", n));
    return true;
  }
  case 'i':
    if (!sized(1, 1)) return false;
    Note(d, start, Say("ESC ( i microweave %u", Byte(d, p)));
    return true;
  case 'K':
    if (!sized(2, 2)) return false;
    Note(d, start, Say("ESC ( K %s", Byte(d, p + 1) == 1 ? "monochrome" : "colour"));
    return true;
  case 'D': {
    if (!sized(4, 4)) return false;
    unsigned base = Get16(d, p), v = Byte(d, p + 2), h = Byte(d, p + 3);
    if (v == 0 || h == 0 || !FineUnits(base, v, &d.raster_row) ||
        !FineUnits(base, h, &d.raster_dot))
      return Fail(d, start, Say("ESC ( D with raster unit %u x %u of 1/%u in", v, h, base));
    Note(d, start, Say("ESC ( D raster unit of 1/%u in: rows %u, dots %u", base, v, h));
    return true;
  }
  case 'e':
    if (!sized(2, 2)) return false;
    // The first byte moves the head right by whole dots (the column of a
    // band on printers that take it here), the second picks the dot size.
    d.x_dots += Byte(d, p);
    d.dot_size = int(Byte(d, p + 1));
    Note(d, start, Say("ESC ( e dot size %02X, offset %u", Byte(d, p + 1), Byte(d, p)));
    return true;
  case 's':
    if (!sized(1, 1)) return false;
    Note(d, start, Say("ESC ( s print speed %u", Byte(d, p)));
    return true;
  case 'r': {
    if (!sized(2, 2)) return false;
    unsigned density = Byte(d, p), code = Byte(d, p + 1);
    int ink = density > 1 ? -1 : InkOfCode(code | (density ? 0x10 : 0));
    if (ink < 0) return Fail(d, start, Say("ESC ( r %02X %02X names no ink", density, code));
    d.colour = ink;
    Note(d, start, Say("ESC ( r colour %s", InkName(ink)));
    return true;
  }
  case '\\': {
    if (!sized(4, 4)) return false;
    unsigned base = Get16(d, p);
    int64_t move;
    if (!FineUnits(base, int16_t(Get16(d, p + 2)), &move))
      return Fail(d, start, Say("ESC ( \\ with a unit of 1/%u in", base));
    d.x += move;
    Note(d, start, Say("ESC ( \\ move %d/%u in", int16_t(Get16(d, p + 2)), base));
    return true;
  }
  default:
    return Fail(d, start,
                Say("ESC ( %c (1B 28 %02X) is not a command this decoder knows",
                    letter >= 0x20 && letter < 0x7F ? letter : '?', Byte(d, start + 2)));
  }
}

// ESC 01 and the EJL lines after it: the printer leaves packet mode.
bool DecodePacketExit(Decoder &d, size_t start)
{
  d.pos = start + 2;
  Note(d, start, "ESC 01 leave packet mode");
  while (d.stream->compare(d.pos, 4, "@EJL") == 0) {
    size_t end = d.stream->find('\n', d.pos);
    if (end == std::string::npos) return Fail(d, d.pos, "an EJL line without its line feed");
    size_t at = d.pos;
    d.pos = end + 1;
    Note(d, at, "EJL " + d.stream->substr(at, end - at));
  }
  return true;
}

// Renders a page's raster commands into its grid and adds it to the output.
bool EndPage(Decoder &d, size_t offset, bool form_feed);
void NextPage(Decoder &d);

// One command that starts with ESC.
bool DecodeEscape(Decoder &d, size_t start)
{
  if (!Need(d, start, 2, "ESC")) return false;
  unsigned c = Byte(d, start + 1);
  switch (c) {
  case '@':
    d.pos += 2;
    ResetPrinter(d);
    Note(d, start, "ESC @ reset");
    return true;
  case 0x01: return DecodePacketExit(d, start);
  case 0x00: {
    // An escape and a run of NULs that the printer skips (sent at page
    // start by some printers; inside remote mode ESC 00 00 00 leaves it).
    d.pos += 1;
    size_t run = 0;
    while (d.pos < d.stream->size() && Byte(d, d.pos) == 0) d.pos++, run++;
    Note(d, start, Say("ESC and %zu NUL", run));
    return true;
  }
  case '(': return DecodeParameterCommand(d, start);
  case 'U':
    if (!Need(d, start, 3, "ESC U")) return false;
    d.pos += 3;
    Note(d, start, Say("ESC U print direction %u", Byte(d, start + 2)));
    return true;
  case 'r': {
    if (!Need(d, start, 3, "ESC r")) return false;
    unsigned code = Byte(d, start + 2);
    int ink = code < 0x10 ? InkOfCode(code) : -1;
    if (ink < 0) return Fail(d, start, Say("ESC r %02X names no ink", code));
    d.pos += 3;
    d.colour = ink;
    Note(d, start, Say("ESC r colour %s", InkName(ink)));
    return true;
  }
  case '\\': {
    if (!Need(d, start, 4, "ESC \\")) return false;
    int move = int16_t(Get16(d, start + 2));
    d.pos += 4;
    d.x += move * d.horizontal_unit;
    Note(d, start, Say("ESC \\ move %d units", move));
    return true;
  }
  case 'i': return DecodeBandRaster(d, start);
  case '.': return DecodeLineRaster(d, start);
  default:
    return Fail(d, start,
                Say("ESC %c (1B %02X) is not a command this decoder knows",
                    c >= 0x20 && c < 0x7F ? char(c) : '?', c));
  }
}

// The level of dot k of a packed row.
int RowDot(const char *row, int bits, int k)
{
  unsigned byte = static_cast<unsigned char>(row[bits == 1 ? k / 8 : k / 4]);
  return bits == 1 ? (byte >> (7 - k % 8)) & 1 : (byte >> (6 - 2 * (k % 4))) & 3;
}

// Checks that a raster command's rows and dots fall on the page and gives
// the last row and column they reach.
bool BlockReach(Decoder &d, const RasterBlock &b, int64_t xp, int64_t yp, int64_t *last_row,
                int64_t *last_col)
{
  int64_t top = b.y - d.origin;
  if (top < 0)
    return Fail(d, b.offset,
                Say("raster row above the page's first print position (%lld/%d in)", (long long)top,
                    kFineUnit));
  if (b.x < 0)
    return Fail(d, b.offset,
                Say("dots left of the left margin (%lld/%d in)", (long long)b.x, kFineUnit));
  *last_row = (top + (b.rows - 1) * b.row_step) / yp;
  *last_col = (b.x + (b.dots - 1) * b.dot_step) / xp + b.x_dots;
  if (*last_row >= kMaxExtent || *last_col >= kMaxExtent)
    return Fail(d, b.offset,
                Say("dots at row %lld, column %lld are beyond any paper", (long long)*last_row,
                    (long long)*last_col));
  return true;
}

// Lays one raster command's dots into its ink's grid, noting dots that
// another row already reached and positions between grid dots.
void PlaceBlock(Decoder &d, const RasterBlock &b, int64_t xp, int64_t yp, Page *page,
                bool *row_warned, bool *col_warned)
{
  uint8_t *grid = page->levels[b.ink].data();
  int64_t first_row = 0, row_step = 0;
  // Dots a whole number of columns apart are placed without division.
  bool even = b.x % xp == 0 && b.dot_step % xp == 0;
  int64_t first_col = b.x / xp + b.x_dots, col_step = b.dot_step / xp;
  if (!even && !*col_warned) {
    *col_warned = true;
    page->warnings.push_back(
        Say("dots fall between the columns of the %.6g dpi grid (first at offset %zu)",
            PitchDpi(int(xp)), b.offset));
  }
  for (int r = 0; r < b.rows; r++) {
    int64_t fy = b.y + r * b.row_step - d.origin;
    if (fy % yp != 0 && !*row_warned) {
      *row_warned = true;
      page->warnings.push_back(
          Say("raster rows fall between the rows of the %.6g dpi grid (first at offset %zu)",
              PitchDpi(int(yp)), b.offset));
    }
    int64_t row = fy / yp;
    if (r == 0) first_row = row;
    if (r == 1) row_step = row - first_row;
    const char *data = b.data.data() + size_t(r) * b.bytes;
    uint8_t *line = grid + size_t(row) * page->width;
    for (int k = 0; k < b.dots; k++) {
      int64_t col = even ? first_col + k * col_step : (b.x + k * b.dot_step) / xp + b.x_dots;
      uint8_t &cell = line[col];
      if (cell & kWritten) page->overprinted++;
      cell = uint8_t(kWritten | std::max(cell & 3, RowDot(data, b.bits, k)));
    }
  }
  std::string &text = d.out->commands[b.command].text;
  text += Say(" -> row %lld", (long long)first_row);
  if (b.rows > 1) text += Say(" every %lld", (long long)row_step);
  text += Say(", column %lld", (long long)first_col);
  if (b.dots > 1) text += Say(" every %lld", (long long)(even ? col_step : b.dot_step / xp));
}

bool EndPage(Decoder &d, size_t offset, bool form_feed)
{
  if (d.options.commands_only) {
    Note(d, offset, form_feed ? "FF end of page" : "end of page");
    d.out->pages.emplace_back();
    NextPage(d);
    return true;
  }
  Page page;
  int64_t yp =
      d.options.ydpi ? kFineUnit / d.options.ydpi : (d.grid_row ? d.grid_row : d.vertical_unit);
  int64_t xp = 0;
  if (d.options.xdpi) {
    xp = kFineUnit / d.options.xdpi;
  } else if (d.grid_dot) {
    xp = d.grid_dot;
  } else {
    // No unit names the columns: the closest dot spacing of the page's
    // raster commands is one column.
    for (const RasterBlock &b : d.blocks)
      if (xp == 0 || b.dot_step < xp) xp = b.dot_step;
    if (xp == 0) xp = d.own_horizontal_unit ? d.horizontal_unit : d.vertical_unit;
  }
  page.x_pitch = int(xp);
  page.y_pitch = int(yp);
  // ESC . spacings are whole 1/3600 inch, which cannot say 1/1440 or
  // 1/2880: the printer takes the truncated value (2 for 1/1440) as the dot
  // pitch of its resolution, so such a spacing is the nearest whole number
  // of grid columns or rows.
  for (RasterBlock &b : d.blocks) {
    if (!b.whole_3600) continue;
    if (b.dot_step % xp) b.dot_step = std::max<int64_t>(1, (b.dot_step + xp / 2) / xp) * xp;
    if (b.row_step % yp) b.row_step = std::max<int64_t>(1, (b.row_step + yp / 2) / yp) * yp;
  }
  // The grid is sized once, from the farthest dot of the page.
  int64_t width = 0, height = 0;
  for (const RasterBlock &b : d.blocks) {
    page.bits[b.ink] = std::max(page.bits[b.ink], b.bits);
    int64_t last_row, last_col;
    if (b.rows == 0 || b.dots == 0) continue;
    if (!BlockReach(d, b, xp, yp, &last_row, &last_col)) return false;
    height = std::max(height, last_row + 1);
    width = std::max(width, last_col + 1);
  }
  if (uint64_t(width) * uint64_t(height) > kMaxCells)
    return Fail(d, offset,
                Say("a page of %lld x %lld dots is more than the preview can hold",
                    (long long)width, (long long)height));
  page.width = int(width);
  page.height = int(height);
  for (int ink = 0; ink < kInks; ink++)
    if (page.bits[ink]) page.levels[ink].assign(size_t(width) * size_t(height), 0);
  bool row_warned = false, col_warned = false;
  for (const RasterBlock &b : d.blocks)
    if (b.rows && b.dots) PlaceBlock(d, b, xp, yp, &page, &row_warned, &col_warned);
  for (auto &levels : page.levels)
    for (uint8_t &cell : levels) cell &= 3;
  if (d.paper_width > 0) page.paper_width = int(std::min<int64_t>(d.paper_width / xp, kMaxExtent));
  if (d.form_bottom > d.origin)
    page.form_height = int(std::min<int64_t>((d.form_bottom - d.origin) / yp, kMaxExtent));
  if (!form_feed) page.warnings.push_back("the stream ends before the form feed of this page");
  std::string text =
      Say("end of page %zu: %d x %d dots at %.6g x %.6g dpi", d.out->pages.size() + 1, page.width,
          page.height, PitchDpi(page.x_pitch), PitchDpi(page.y_pitch));
  if (page.overprinted) text += Say(", %ld dots overprinted", page.overprinted);
  Note(d, offset, form_feed ? "FF " + text : text);
  d.out->pages.push_back(std::move(page));
  NextPage(d);
  return true;
}

// The next page starts at the top of form, at the left margin.
void NextPage(Decoder &d)
{
  d.blocks.clear();
  d.has_origin = false;
  d.origin = d.y = d.x = d.x_dots = 0;
  d.grid_row = d.grid_dot = 0;
  d.paper_width = d.form_bottom = 0;
}

// Ink coverage (0 to 255) of one dot of each level, by bits per dot: a
// 1-bit dot is a full dot; 2-bit dots grow from small to large.
const int kCoverage[3][4] = {{0, 0, 0, 0}, {0, 255, 255, 255}, {0, 128, 192, 255}};

// Light inks lay about a third of the dye of their dark twins.
const int kLightStrength = 90;  // of 255

}  // namespace

bool UnpackBits(const std::string &stream, size_t *pos, size_t length, std::string *out,
                std::string *error)
{
  out->clear();
  out->reserve(length);
  size_t p = *pos;
  while (out->size() < length) {
    if (p >= stream.size()) {
      *error = Say("PackBits data ends after %zu of %zu bytes", out->size(), length);
      return false;
    }
    unsigned header = static_cast<unsigned char>(stream[p++]);
    size_t left = length - out->size();
    if (header == 0x80) continue;
    if (header < 0x80) {
      size_t run = header + 1;
      if (run > left) {
        *error = Say("a literal run of %zu bytes overflows the rows (%zu bytes left)", run, left);
        return false;
      }
      if (stream.size() - p < run) {
        *error = Say("PackBits literal of %zu bytes is cut short", run);
        return false;
      }
      out->append(stream, p, run);
      p += run;
    } else {
      size_t run = 257 - header;
      if (run > left) {
        *error = Say("a repeat run of %zu bytes overflows the rows (%zu bytes left)", run, left);
        return false;
      }
      if (p >= stream.size()) {
        *error = "PackBits repeat run without its byte";
        return false;
      }
      out->append(run, stream[p++]);
    }
  }
  *pos = p;
  return true;
}

bool DecodeStream(const std::string &stream, const DecodeOptions &options, Decoded *out)
{
  *out = Decoded();
  Decoder d;
  d.stream = &stream;
  d.options = options;
  d.out = out;
  if ((options.xdpi && (options.xdpi < 0 || kFineUnit % options.xdpi)) ||
      (options.ydpi && (options.ydpi < 0 || kFineUnit % options.ydpi)))
    return Fail(d, 0,
                Say("a grid of %d x %d dpi does not divide 1/%d inch", options.xdpi, options.ydpi,
                    kFineUnit));
  if (options.escdot_bits < 0 || options.escdot_bits > 2)
    return Fail(d, 0, Say("ESC . rows cannot have %d bits per dot", options.escdot_bits));
  while (d.pos < stream.size()) {
    size_t start = d.pos;
    unsigned byte = Byte(d, start);
    if (byte == 0x00) {
      while (d.pos < stream.size() && Byte(d, d.pos) == 0) d.pos++;
      Note(d, start, Say("NUL x %zu", d.pos - start));
    } else if (byte == 0x0C) {
      d.pos++;
      if (!EndPage(d, start, true)) return false;
    } else if (byte == 0x0D) {
      d.pos++;
      d.x = d.x_dots = 0;
      Note(d, start, "CR");
    } else if (byte == 0x1B) {
      if (!DecodeEscape(d, start)) return false;
    } else {
      return Fail(d, start, Say("byte %02X is not a printer command", byte));
    }
  }
  if (!d.blocks.empty()) return EndPage(d, stream.size(), false);
  return true;
}

std::vector<Command> ReadCommands(const std::string &stream)
{
  DecodeOptions options;
  options.commands_only = true;
  Decoded decoded;
  if (!DecodeStream(stream, options, &decoded)) {
    size_t at = decoded.error_offset;
    decoded.commands.push_back(
        {at, stream.size() - at, decoded.error, Say("?? %zu bytes", stream.size() - at)});
  }
  std::vector<Command> &commands = decoded.commands;
  // The page end at the very end of a stream without a form feed is no command.
  if (!commands.empty() && commands.back().length == 0 && commands.back().offset == stream.size())
    commands.pop_back();
  return std::move(commands);
}

std::vector<Page> DecodeStream(const std::string &stream, std::string *error)
{
  Decoded decoded;
  if (DecodeStream(stream, DecodeOptions(), &decoded)) {
    if (error) error->clear();
    return std::move(decoded.pages);
  }
  if (error) *error = Say("offset %zu: ", decoded.error_offset) + decoded.error;
  return {};
}

int DotLevel(const Page &page, int ink, int row, int col)
{
  if (ink < 0 || ink >= kInks || page.levels[ink].empty() || row < 0 || col < 0 ||
      row >= page.height || col >= page.width)
    return 0;
  return page.levels[ink][size_t(row) * page.width + col];
}

const char *InkName(int ink)
{
  static const char *const kNames[kInks] = {"black",  "cyan",       "magenta",
                                            "yellow", "light-cyan", "light-magenta"};
  return ink >= 0 && ink < kInks ? kNames[ink] : "none";
}

double PitchDpi(int pitch)
{
  return pitch > 0 ? double(kFineUnit) / pitch : 0;
}

int DefaultScale(const Page &page)
{
  const int kMaxPicture = 3000;
  int width = std::max(page.width, page.paper_width);
  return std::max(1, (width + kMaxPicture - 1) / kMaxPicture);
}

int ImageWidth(const Page &page, int scale)
{
  return std::max(1, (std::max(page.width, page.paper_width) + scale - 1) / scale);
}

int ImageHeight(const Page &page, int scale)
{
  return std::max(1, (std::max(page.height, page.form_height) + scale - 1) / scale);
}

void RenderRow(const Page &page, int scale, int ink, int row, uint8_t *out)
{
  int width = ImageWidth(page, scale);
  int full_width = std::max({page.width, page.paper_width, 1});
  int full_height = std::max({page.height, page.form_height, 1});
  int rows = std::min(scale, full_height - row * scale);
  std::vector<int> cover[kInks];
  for (int i = 0; i < kInks; i++) {
    if (page.levels[i].empty() || (ink >= 0 && i != ink)) continue;
    cover[i].assign(width, 0);
    const int *strength = kCoverage[page.bits[i]];
    for (int r = row * scale; r < row * scale + rows && r < page.height; r++) {
      const uint8_t *line = page.levels[i].data() + size_t(r) * page.width;
      for (int c = 0; c < page.width; c++) cover[i][c / scale] += strength[line[c]];
    }
  }
  for (int x = 0; x < width; x++) {
    int cells = std::max(1, rows * std::min(scale, full_width - x * scale));
    int c[kInks];
    for (int i = 0; i < kInks; i++) c[i] = cover[i].empty() ? 0 : cover[i][x] / cells;
    if (ink >= 0) {
      out[x] = uint8_t(255 - c[ink]);
      continue;
    }
    int cyan = std::min(255, c[kCyan] + c[kLightCyan] * kLightStrength / 255);
    int magenta = std::min(255, c[kMagenta] + c[kLightMagenta] * kLightStrength / 255);
    int white = 255 - c[kBlack];
    out[3 * x] = uint8_t((255 - cyan) * white / 255);
    out[3 * x + 1] = uint8_t((255 - magenta) * white / 255);
    out[3 * x + 2] = uint8_t((255 - c[kYellow]) * white / 255);
  }
}

}  // namespace preview
