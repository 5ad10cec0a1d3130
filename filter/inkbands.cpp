// inkbands: CUPS raster to ESC/P2 raster graphics for Epson inkjet printers.
//
// Reads CUPS raster pages from standard input (or a file) and writes the
// printer's command stream to standard output: job and page commands, rows
// woven into print-head bands, error-diffusion dithered contone lines, 1-bit
// and 2-bit dots, PackBits compressed.
//
// A page goes main -> MakePagePlan (every page value, and the refusals) ->
// StartPage (buffers, page commands) -> ProcessLine for each raster line
// (dither, pack, weave into bands) -> OutputBand/OutputLine/CompressData
// (raster commands) -> EndPage (last bands, form feed). What differs between
// printer families is one row of kFamilies, looked up once per job.

#include "inkbands.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

typedef cups_page_header2_t page_header_t;

// ---------------------------------------------------------------------------
// Dot-size tables: nominal intensity of each dot level (no dot, then the
// dot sizes), three rows for plain, special and other media.

static const int Series1_360[] = {0, 255, 0, 255, 0, 255};
static const int Series1_720[] = {0, 381, 0, 255, 0, 340};
static const int Series2_360[] = {0, 255, 0, 255, 0, 255};
static const int Series2_360x720[] = {0, 255, 0, 255, 0, 255};
static const int Series2_720[] = {0, 381, 0, 255, 0, 340};
static const int Series3_360[] = {0, 255, 0, 255, 0, 255};
static const int Series3_360x720[] = {0, 255, 0, 255, 0, 255};
static const int Series3_720[] = {0, 383, 0, 311, 0, 340};
static const int Series4_360[] = {0, 255, 0, 283, 0, 255};
static const int Series4_720[] = {0, 319, 0, 319, 0, 319};
static const int Series4_1440x720[] = {0, 638, 0, 638, 0, 638};
static const int Series5_360[] = {0, 255, 0, 255, 0, 255};
static const int Series5_720[] = {0, 283, 0, 255, 0, 255};
static const int Series5_1440x720[] = {0, 567, 0, 510, 0, 510};
static const int Series6_360[] = {0, 255, 0, 255, 0, 255};
static const int Series6_720[] = {0, 180, 272, 400, 0, 135, 204, 300, 0, 115, 173, 255};
static const int Series6_1440x720[] = {0, 270, 408, 600, 0, 203, 306, 450, 0, 173, 260, 383};
static const int Series6_2880x720[] = {0, 360, 544, 800, 0, 270, 408, 600, 0, 230, 346, 510};
static const int Series7_360[] = {0, 255, 0, 255, 0, 255};
static const int Series7_720[] = {0, 300, 0, 255, 0, 255};
static const int Series7_720x3[] = {0, 165, 300, 0, 140, 255, 0, 140, 255};
static const int Series7_1440x720[] = {0, 450, 0, 383, 0, 383};
static const int Series7_1440x720x3[] = {0, 248, 450, 0, 210, 383, 0, 210, 383};
static const int SeriesCXX_360[] = {0, 127, 191, 255, 0, 127, 191, 255, 0, 127, 191, 255};
static const int SeriesCXX_720[] = {0, 200, 300, 400, 0, 150, 225, 300, 0, 140, 210, 280};
static const int SeriesCXX_1440x720[] = {0, 320, 480, 640, 0, 240, 360, 480, 0, 224, 336, 448};
static const int SeriesCXX_2880x720[] = {0, 320, 480, 640, 0, 255, 360, 480, 0, 255, 336, 448};
static const int SeriesC78_360[] = {0, 85, 170, 255, 0, 85, 170, 255, 0, 85, 170, 255};
static const int SeriesC78_720[] = {0, 150, 300, 450, 0, 120, 240, 360, 0, 100, 200, 300};
static const int SeriesC78_1440x720[] = {0, 200, 400, 600, 0, 160, 320, 480, 0, 133, 267, 400};
static const int SeriesC78_2880x1440[] = {0, 450, 451, 452, 0, 360, 361, 362, 0, 300, 301, 302};
static const int Series5000_360[] = {0, 255, 0, 255, 0, 255};
static const int Series5000_720[] = {0, 340, 0, 255, 0, 340};
static const int Series5000_1440x720[] = {0, 680, 0, 510, 0, 680};
static const int Series5500_720[] = {0, 300, 0, 255, 0, 255};
static const int Series5500_1440x720[] = {0, 248, 450, 0, 210, 383, 0, 210, 383};
static const int Series9000_360[] = {0, 255, 0, 255, 0, 255};
static const int Series9000_720[] = {0, 283, 0, 255, 0, 255};
static const int Series9000_1440x720[] = {0, 567, 0, 510, 0, 510};
static const int Series10000_360[] = {0, 85, 170, 255, 0, 85, 170, 255, 0, 85, 170, 255};
static const int Series10000_720[] = {0, 106, 213, 319, 0, 106, 213, 319, 0, 106, 213, 319};
static const int Series10000_1440x720[] = {0, 212, 426, 638, 0, 212, 426, 638, 0, 212, 426, 638};

// Which rows of the dot-size tables a family uses: the first entry whose
// resolution and condition match the page wins; a page no entry matches
// dithers with Series1_360's two levels.
enum dot_when_t
{
  kAlways,       // any page at this resolution
  kThreeLevels,  // cupsCompression asks for three dot levels (2 or more)
  kTwoBit,       // the page prints 2-bit dots
};

struct dot_row_t
{
  unsigned x, y;     // horizontal resolution; vertical resolution, 0 for any
  dot_when_t when;   // further condition
  int values;        // values per media row: no dot, then the dot sizes
  const int *table;  // three media rows of values
};

// clang-format off
static const dot_row_t kDots1[] = {
  {360, 0, kAlways, 2, Series1_360}, {720, 0, kAlways, 2, Series1_720}, {}};
static const dot_row_t kDots2[] = {
  {360, 720, kAlways, 2, Series2_360x720}, {360, 0, kAlways, 2, Series2_360},
  {720, 0, kAlways, 2, Series2_720}, {}};
static const dot_row_t kDots3[] = {
  {360, 720, kAlways, 2, Series3_360x720}, {360, 0, kAlways, 2, Series3_360},
  {720, 0, kAlways, 2, Series3_720}, {}};
static const dot_row_t kDots4[] = {
  {360, 0, kAlways, 2, Series4_360}, {720, 0, kAlways, 2, Series4_720},
  {1440, 0, kAlways, 2, Series4_1440x720}, {}};
static const dot_row_t kDots5[] = {
  {360, 0, kAlways, 2, Series5_360}, {720, 0, kAlways, 2, Series5_720},
  {1440, 0, kAlways, 2, Series5_1440x720}, {}};
static const dot_row_t kDots6[] = {
  {360, 0, kAlways, 2, Series6_360}, {720, 0, kAlways, 4, Series6_720},
  {1440, 0, kAlways, 4, Series6_1440x720}, {2880, 0, kAlways, 4, Series6_2880x720}, {}};
static const dot_row_t kDots7[] = {
  {360, 0, kAlways, 2, Series7_360},
  {720, 0, kThreeLevels, 3, Series7_720x3}, {720, 0, kAlways, 2, Series7_720},
  {1440, 0, kThreeLevels, 3, Series7_1440x720x3}, {1440, 0, kAlways, 2, Series7_1440x720}, {}};
static const dot_row_t kDotsCXX[] = {
  {360, 0, kAlways, 4, SeriesCXX_360}, {720, 0, kAlways, 4, SeriesCXX_720},
  {1440, 0, kAlways, 4, SeriesCXX_1440x720}, {2880, 0, kAlways, 4, SeriesCXX_2880x720}, {}};
static const dot_row_t kDotsC78[] = {
  {360, 0, kAlways, 4, SeriesC78_360}, {720, 0, kAlways, 4, SeriesC78_720},
  {1440, 0, kAlways, 4, SeriesC78_1440x720}, {2880, 0, kAlways, 4, SeriesC78_2880x1440}, {}};
static const dot_row_t kDots5000[] = {
  {360, 0, kAlways, 2, Series5000_360},
  {720, 0, kTwoBit, 2, Series5500_720}, {720, 0, kAlways, 2, Series5000_720},
  {1440, 0, kTwoBit, 3, Series5500_1440x720}, {1440, 0, kAlways, 2, Series5000_1440x720}, {}};
static const dot_row_t kDots9000[] = {
  {360, 0, kAlways, 2, Series9000_360}, {720, 0, kAlways, 2, Series9000_720},
  {1440, 0, kAlways, 2, Series9000_1440x720}, {}};
static const dot_row_t kDots10000[] = {
  {360, 0, kAlways, 4, Series10000_360}, {720, 0, kAlways, 4, Series10000_720},
  {1440, 0, kAlways, 4, Series10000_1440x720}, {}};
static const dot_row_t kDotsNone[] = {{}};
// clang-format on

// How a dot-size code depends on the media: the first code when the media
// matches, the second when not.
enum media_rule_t
{
  kAnyMedia,         // always the first code
  kFilm,             // Transparency
  kPlainOrFilm,      // Plain or Transparency
  kPlain,            // Plain
  kSpecial,          // Special
  kPlainPaperClass,  // plain paper and film (paper class 0)
};

// One resolution's dot-size code: by media, or two_bit for 2-bit dots
// (-1: none, the media rule decides; a media code of -1 sends no code).
struct dot_code_t
{
  media_rule_t rule;
  int yes, no, two_bit;
};

// A family's dot-size codes at 360, 720, 1440 and 2880 dpi and at any other
// resolution, keyed by the horizontal resolution (by_rows: the vertical).
struct dot_codes_t
{
  bool by_rows;
  dot_code_t at[5];
};

// clang-format off
//                               360 dpi                      720 dpi
//                               1440 dpi                     2880 dpi         other
static const dot_codes_t kCodesNone = {false, {
  {kAnyMedia, -1, -1, -1},       {kAnyMedia, -1, -1, -1},
  {kAnyMedia, -1, -1, -1},       {kAnyMedia, -1, -1, -1},      {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes2 = {true, {
  {kAnyMedia, -1, -1, -1},       {kAnyMedia, 0x01, 0x01, -1},
  {kAnyMedia, -1, -1, -1},       {kAnyMedia, -1, -1, -1},      {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes4 = {false, {
  {kFilm, 0x03, 0x02, -1},       {kPlainOrFilm, 0x01, 0x02, -1},
  {kAnyMedia, 0x01, 0x01, -1},   {kAnyMedia, -1, -1, -1},      {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes5 = {false, {
  {kFilm, 0x03, 0x02, -1},       {kPlainOrFilm, 0x01, 0x02, -1},
  {kSpecial, 0x01, 0x04, -1},    {kAnyMedia, -1, -1, -1},      {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes6 = {false, {
  {kFilm, 0x03, 0x02, 0x10},     {kPlainOrFilm, 0x01, 0x02, 0x10},
  {kPlain, 0x04, 0x01, 0x10},    {kAnyMedia, 0x12, 0x12, -1},  {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes8 = {false, {
  {kAnyMedia, 0x12, 0x12, -1},   {kPlainOrFilm, 0x13, 0x11, -1},
  {kPlainOrFilm, 0x13, 0x11, -1}, {kAnyMedia, 0x10, 0x10, -1}, {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes9 = {false, {
  {kAnyMedia, 0x13, 0x13, -1},   {kAnyMedia, 0x10, 0x10, -1},
  {kAnyMedia, 0x10, 0x10, -1},   {kAnyMedia, 0x10, 0x10, -1},  {kAnyMedia, 0x10, 0x10, -1}}};
static const dot_codes_t kCodes10 = {false, {
  {kAnyMedia, 0x12, 0x12, -1},   {kAnyMedia, 0x11, 0x11, -1},
  {kAnyMedia, 0x11, 0x11, -1},   {kAnyMedia, 0x10, 0x10, -1},  {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes11 = {false, {
  {kAnyMedia, 0x12, 0x12, -1},   {kPlainOrFilm, 0x14, 0x11, -1},
  {kPlainOrFilm, 0x14, 0x11, -1}, {kAnyMedia, 0x10, 0x10, -1}, {kAnyMedia, -1, -1, -1}}};
// Family 5000 sends its dot size with every raster command (DotSize).
static const dot_codes_t kCodes5000 = {false, {
  {kAnyMedia, 2, 2, -1},         {kPlainPaperClass, 1, 2, -1},
  {kPlainPaperClass, 4, 1, -1},  {kAnyMedia, -1, -1, -1},      {kAnyMedia, -1, -1, -1}}};
static const dot_codes_t kCodes5500 = {false, {
  {kAnyMedia, -1, -1, 0x10},     {kAnyMedia, -1, -1, 0x10},
  {kAnyMedia, -1, -1, 0x10},     {kAnyMedia, -1, -1, 0x10},    {kAnyMedia, -1, -1, 0x10}}};
// clang-format on

// Part of cyan and magenta printed with the light inks at 360 dpi, 720 dpi
// and finer (2880 dpi dots are as small as 1440 dpi ones).
struct light_split_t
{
  float cyan[3], magenta[3];
};

static const light_split_t kLightSplit = {{0.07f, 0.42f, 0.29f}, {0.07f, 0.42f, 0.29f}};
static const light_split_t kLightSplitPale = {{0.035f, 0.21f, 0.145f}, {0.0175f, 0.105f, 0.0725f}};

// The raster command a family takes.
enum raster_command_t
{
  kEscDot,  // ESC . : 1-bit rows, units in the command, colour by ESC r
  kEscI,    // ESC i : 1- or 2-bit rows, colour and dot depth in the command
};

// How the heads lie: where each plane's nozzles start and how a grey page
// uses the colour heads' rows.
enum head_layout_t
{
  kHeadInline,      // every plane's nozzles on the same rows
  kHeadOffsetEven,  // planes an even nozzle count of rows apart; grey uses 3 x that count
  kHeadStaggered,   // colour heads a pass below black; grey uses 3 x the rows
  kHeadGreySplit,   // grey uses 3 x the rows, a third of the interleave apart
};

// Family features, as bits of family_t::flags. The first six follow the
// model number's range (RangeFlags), the rest are given by the rows.
constexpr unsigned kDesk = 1u << 0;           // leaves packet mode at job start; else large
                                              // format: defaults restored at job end,
                                              // media position by PC/PP, padded page start
constexpr unsigned kRemote = 1u << 1;         // takes media settings in remote mode
constexpr unsigned kFineUnits = 1u << 2;      // page unit 1/1440 inch, else 1/3600
constexpr unsigned kLateBlack = 1u << 3;      // black generation starts late, whatever the inks
constexpr unsigned kCutter = 1u << 4;         // roll printer with a cutter
constexpr unsigned kOneWayContone = 1u << 5;  // contone pages up to 720 dpi print one way
constexpr unsigned kMonoColour = 1u << 8;     // mono or colour printing chosen by ESC ( K
constexpr unsigned kNoLightInks = 1u << 9;    // no light inks: six-ink pages are refused
constexpr unsigned kSizeLevels = 1u << 10;    // dot levels: the sizes plus none, not 2^bits
constexpr unsigned kSizeAlways = 1u << 11;    // page size by ESC ( S whatever the margins
constexpr unsigned kLongPages = 1u << 12;     // 32-bit page format, its bottom in 32 bits
constexpr unsigned kPaperSize = 1u << 13;     // paper size by the remote MS command
constexpr unsigned kMediaDots = 1u << 14;     // remote SN 2 and 6: 2-bit dots at 1440 dpi
constexpr unsigned kRasterDot = 1u << 15;     // dot size in each raster command, no ESC ( e
constexpr unsigned kSlow1440 = 1u << 16;      // print speed set for 1440 dpi pages
constexpr unsigned kTwoBit720 = 1u << 17;     // 2-bit dots from 720 rows, whatever compression
constexpr unsigned kTwoBit1440 = 1u << 18;    // 2-bit dots at 1440 dpi only, not by compression
constexpr unsigned kPaleLight = 1u << 19;     // light inks split at half strength
constexpr unsigned kAnyDirection = 1u << 20;  // the printer picks the direction of pages not
                                              // sent one way

// One printer family: everything the filter does differently for it.
struct family_t
{
  int number;                // the PPD's cupsModelNumber
  raster_command_t command;  // raster command
  unsigned raster_base;      // base of the raster unit (ESC ( D); 0: not sent
  head_layout_t head;        // head layout
  const dot_codes_t *codes;  // dot-size codes (ESC ( e)
  const dot_row_t *dots;     // dot-size intensities for the dither
  unsigned flags;            // features above
};

// clang-format off
static const family_t kFamilies[] = {
// number command raster  head              codes        dots        flags
  {1,     kEscDot, 0,     kHeadInline,     &kCodesNone, kDots1,     0},
  {2,     kEscDot, 0,     kHeadInline,     &kCodes2,    kDots2,     0},
  {3,     kEscDot, 0,     kHeadInline,     &kCodes2,    kDots3,     0},
  {4,     kEscDot, 0,     kHeadInline,     &kCodes4,    kDots4,     kMonoColour | kSlow1440},
  {5,     kEscDot, 0,     kHeadInline,     &kCodes5,    kDots5,     0},
  {6,     kEscI,   14400, kHeadInline,     &kCodes6,    kDots6,     kSizeAlways | kTwoBit720},
  {7,     kEscI,   14400, kHeadInline,     &kCodes6,    kDots7,     kSizeLevels},
  {8,     kEscI,   1440,  kHeadInline,     &kCodes8,    kDotsCXX,   kMonoColour},
  {9,     kEscI,   1440,  kHeadOffsetEven, &kCodes9,    kDotsCXX,   kMonoColour | kNoLightInks},
  {10,    kEscI,   1440,  kHeadGreySplit,  &kCodes10,   kDotsCXX,   kMonoColour},
  {11,    kEscI,   1440,  kHeadStaggered,  &kCodes11,   kDotsC78,   kMonoColour},
  {5000,  kEscDot, 0,     kHeadInline,     &kCodes5000, kDots5000,  kPaperSize | kRasterDot},
  {5500,  kEscI,   14400, kHeadInline,     &kCodes5500, kDots5000,  kPaperSize | kMediaDots |
                                                                    kSizeLevels | kTwoBit1440},
  {9000,  kEscI,   14400, kHeadInline,     &kCodes6,    kDots9000,  0},
  {9600,  kEscI,   14400, kHeadInline,     &kCodes6,    kDots10000, 0},
  {10000, kEscI,   14400, kHeadInline,     &kCodes6,    kDots10000, kSizeAlways | kLongPages |
                                                                    kPaleLight | kAnyDirection},
};
// clang-format on

// Rules that follow the model number's range, for the families above and
// for model numbers past the table alike.
// clang-format off
static bool DeskModel(int number) { return number < 5000; }
static bool RemoteModel(int number) { return number >= 4; }
static bool FineUnitModel(int number) { return number > 5; }
static bool LateBlackModel(int number) { return number > 6; }
static bool CutterModel(int number) { return number >= 9000; }
static bool OneWayContoneModel(int number) { return number <= 8999; }
// Past the table's families (6 to 11 take ESC i too), ESC i from 5500 on.
static bool EscIModel(int number) { return number > 5499; }
// clang-format on

// The flags a model number's range gives.
static unsigned RangeFlags(int number)
{
  return (DeskModel(number) ? kDesk : 0) | (RemoteModel(number) ? kRemote : 0) |
         (FineUnitModel(number) ? kFineUnits : 0) | (LateBlackModel(number) ? kLateBlack : 0) |
         (CutterModel(number) ? kCutter : 0) | (OneWayContoneModel(number) ? kOneWayContone : 0);
}

// The family of a PPD's model number: its row, or for a number the table
// does not hold, what its range gives and nothing family-specific.
static family_t FamilyFor(int number)
{
  family_t family = {
      number, EscIModel(number) ? kEscI : kEscDot, 0, kHeadInline, &kCodesNone, kDotsNone, 0};
  for (const family_t &row : kFamilies)
    if (row.number == number) family = row;
  family.flags |= RangeFlags(number);
  return family;
}

// Printer colour code of each ink plane (black, cyan, magenta, yellow,
// light cyan, light magenta).
static const int ctable[kMaxPlanes] = {0x00, 0x02, 0x01, 0x04, 0x12, 0x11, 0x00};

// The MS command's codes for standard paper lengths (in points); other
// sizes go as a custom size in 1/360 inch.
static const struct
{
  unsigned length;
  unsigned char code[2];
} kPaperCodes[] = {
    {516, {0x04, 0x01}},  {595, {0x03, 0x01}},  {612, {0x08, 0x01}},  {729, {0x04, 0x00}},
    {792, {0x08, 0x00}},  {842, {0x03, 0x00}},  {1004, {0x0A, 0x00}}, {1032, {0x02, 0x00}},
    {1191, {0x01, 0x00}}, {1224, {0x2D, 0x00}}, {1369, {0x20, 0x00}},
};

// Command bytes and codes, named as the printer reads them.
static const char kExitPacketMode[] = "\000\000\000\033\001@EJL 1284.4\n@EJL     \n";
static const char kReset[] = "\033@";
static const char kLeaveRemoteMode[] = "\033\000\000\000";

// Microweave (ESC ( i): the printer's own weave of unwoven pages.
constexpr int kWeaveByFilter = 0;  // the filter weaves the rows itself
constexpr int kWeaveOn = 1;        // 1-bit dots, or below 720 dpi
constexpr int kWeave2Bit = 2;      // 2-bit dots at 720 dpi
constexpr int kWeaveFine = 3;      // 1440 dpi and finer

// Print direction (ESC U).
constexpr int kBothWays = 0;
constexpr int kOneWay = 1;
constexpr int kPrinterChooses = 2;

// Black generation: where black starts, divided by the bits per dot, and
// the amount at which it is all black, by media.
constexpr int kBlackStartLate = 60, kBlackStartLateOffset = 17;  // families 7 and up
constexpr int kBlackStartSixInk = 102, kBlackStartSixInkOffset = 26;
constexpr int kBlackStart = 63;
constexpr int kBlackEndPlain = 127;  // plain paper: early start, a quarter of the way
constexpr int kBlackEndArt = 153;    // Archival and Watercolor papers
constexpr int kBlackEndOther = 255;

constexpr int kMonoPrinting = 1, kColourPrinting = 2;  // ESC ( K
constexpr int kSpeed1440 = 2;                          // ESC ( s at 1440 dpi

// Largest memory a page may ask for: a 44 inch roll at 2880 dpi in six
// inks fits with room to spare; anything above is a broken header.
static const uint64_t kMaxPageMemory = 1024ull * 1024 * 1024;

// Largest resolution any ESC/P2 head prints.
static const unsigned kMaxResolution = 5760;

// Everything one page needs, worked out once from its header and the
// family before a byte of the page goes out, and only read afterwards.
struct page_plan_t
{
  // The raster
  unsigned xdpi, ydpi;  // resolution
  int width;            // pixels per line
  unsigned height;      // lines
  unsigned line_bytes;  // bytes per raster line
  bool contone;         // 8-bit ink amounts to dither, else pre-dithered dots
  // Dots, heads and bands
  int bit_planes;              // bits per printed dot
  int planes;                  // ink planes sent
  int row_max;                 // nozzle rows per pass; 1 = not woven
  int col_step;                // horizontal interleave
  int asked_step;              // vertical interleave the header asks for
  int asked_feed;              // feed the header asks for
  int asked_count;             // rows per band before the head layout
  int row_step;                // vertical interleave the bands use
  int row_feed;                // paper feed per pass the bands use
  int row_count;               // rows in a full band
  int pool;                    // bands in the pool
  int offsets[kMaxPlanes];     // row offset of each plane's nozzles
  bool offset_head;            // heads lie apart (traced)
  int buffer_size;             // bytes in one packed row of one plane
  bool compress;               // PackBits when shorter
  raster_command_t command;    // ESC i or ESC .
  bool raster_dot;             // dot size goes with every raster command
  int band_hunit, band_vunit;  // ESC . units of a band
  int line_hunit, line_vunit;  // ESC . units of an unwoven line
  // Page commands
  int length, top;       // page length and top margin in rows
  unsigned page_base;    // ESC ( U base
  unsigned raster_base;  // ESC ( D base, 0: not sent
  bool size_command;     // ESC ( S, else ESC ( C
  bool long_pages;       // 32-bit ESC ( c
  bool large_format;     // ESC and 27 zero bytes after the direction
  int direction;         // ESC U
  int weave;             // ESC ( i
  int mono_colour;       // ESC ( K value, 0: not sent
  int speed;             // ESC ( s value, 0: not sent
  int dot_code;          // ESC ( e dot size, -1: not sent
  int dot_size;          // dot size of the raster commands, -1: the last page's
  // Remote-mode media settings
  bool remote;         // media settings sent at all
  unsigned media;      // cupsMediaType nibbles
  unsigned position;   // MediaPosition
  bool media_dots;     // SN 2 and 6 codes
  bool position_pc;    // media position by PC/PP, else EX
  bool paper_size;     // MS command
  bool cutter;         // AC command
  bool cut;            // cut after the page
  unsigned points[2];  // page size in points
  // Dither
  int paper_class;                  // media row of the dot-size table
  const int *dot_row;               // nominal dot intensities
  int dot_values;                   // values in dot_row
  int levels;                       // dot levels of the lookup table
  int black_start, black_end;       // black generation
  bool light_split;                 // six inks: cyan and magenta split into light inks
  float light_cyan, light_magenta;  // part printed with the light inks
};

// ---------------------------------------------------------------------------
// Job state

// Set once the raster stream could not deliver a line of the current page.
static bool RasterEnded;

// Set when the printing system cancels the job (SIGTERM, or SIGINT and
// SIGHUP by hand). The band output looks at it between commands: the
// command being written always goes out whole, nothing more of the page
// follows, and the page and the job are ended as a finished one is.
static volatile sig_atomic_t Cancelled;

// Set when the printer connection or output file is gone: the failed job
// then sends nothing more.
static bool OutputBroken;

// What the job holds open from start to end, and its printer family.
static ppd_file_t *JobPpd;
static cups_raster_t *JobRaster;
static int JobFd;
static family_t JobFamily;

// The page being printed.
static page_plan_t Page;

// ---------------------------------------------------------------------------
// Small output helpers: bytes go out in the order the printer reads them.

static void put8(int value)
{
  putchar(value & 255);
}

static void put16(int value)
{
  putchar(value & 255);
  putchar((value >> 8) & 255);
}

static void putbytes(const char *bytes, size_t length)
{
  fwrite(bytes, 1, length, stdout);
}

// One parameter of a sized command: a byte, or a little-endian word.
struct param_t
{
  unsigned value;
  int size;
  param_t(unsigned byte) : value(byte), size(1) {}
  param_t(unsigned word, int bytes) : value(word), size(bytes) {}
};

static param_t Le16(unsigned value)
{
  return param_t(value, 2);
}
static param_t Le32(unsigned value)
{
  return param_t(value, 4);
}

// Write a command of the "name, 16-bit length, parameters" form; the
// length is counted from the parameters.
static void WriteSized(const char *name, size_t name_length, std::initializer_list<param_t> params)
{
  unsigned length = 0;
  for (const param_t &param : params) length += (unsigned)param.size;
  putbytes(name, name_length);
  put16((int)length);
  for (const param_t &param : params)
    for (int i = 0; i < param.size; i++) put8((int)(param.value >> (8 * i)));
}

// Write an ESC ( x command.
static void WriteParen(char name, std::initializer_list<param_t> params)
{
  const char command[3] = {'\033', '(', name};
  WriteSized(command, 3, params);
}

// Write a two-letter remote-mode command.
static void WriteRemote(const char name[3], std::initializer_list<param_t> params)
{
  WriteSized(name, 2, params);
}

// Report why the job cannot be printed (one "ERROR: " line) and fail it;
// the job loop in main ends the job.
static bool Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

static bool Fatal(const char *format, ...)
{
  va_list ap;
  va_start(ap, format);
  fputs("ERROR: ", stderr);
  vfprintf(stderr, format, ap);
  fputs("\n", stderr);
  va_end(ap);
  return false;
}

// Push buffered printer data out; false when the printer connection or
// the output file is gone.
static bool FlushOutput()
{
  if (fflush(stdout) == 0 && !ferror(stdout)) return true;
  int error = errno ? errno : EIO;
  OutputBroken = true;
  return Fatal("Unable to send print data to the printer - %s", strerror(error));
}

// Write a relative vertical feed; feeds beyond the 16-bit field go out
// in several commands so the paper still lands on the right row.
static void WriteVerticalFeed(int feed)
{
  while (feed > 65535) {
    WriteParen('v', {Le16(65535)});
    feed -= 65535;
  }
  WriteParen('v', {Le16((unsigned)feed)});
}

// Enter the printer's remote mode, where media settings are sent: ESC ( R
// with a 0 and the mode's name.
static void EnterRemoteMode()
{
  WriteParen('R', {0, 'R', 'E', 'M', 'O', 'T', 'E', '1'});
}

// Leave remote mode and return to ESC/P2 commands.
static void LeaveRemoteMode()
{
  putbytes(kLeaveRemoteMode, sizeof(kLeaveRemoteMode) - 1);
}

// The value of an enumerated header field as the raster stream carries it.
// A job may hold any 32-bit value there, and C++ may not load a value
// outside the enumeration's range through the enumeration type itself.
template <typename E> static unsigned FieldValue(const E &field)
{
  static_assert(sizeof(E) == sizeof(unsigned), "raster header fields are 32-bit");
  unsigned value;
  memcpy(&value, &field, sizeof(value));
  return value;
}

// The raster input, how many bytes it has delivered, and whether a read
// has found the end of the data.
struct RasterInput
{
  int fd;
  size_t bytes;       // bytes handed to libcups
  bool ended;         // the descriptor has reached its end
  int error;          // errno of a read that failed, else 0
  size_t start, end;  // unread bytes of ahead[]
  unsigned char ahead[65536];
};

static bool OpenJob(int argc, char *argv[], RasterInput *input);
static int EndJob(bool ok, int page);
static void Setup();
static const char *MakePagePlan(const page_header_t *header, page_plan_t *plan, char *text,
                                size_t size);
static void DumpHeader(const page_header_t *header);
static bool StartPage(const page_plan_t &plan);
static bool ProcessLine(cups_raster_t *raster, int y);
static void ReportProgress(int page, unsigned y, unsigned height);
static bool EndPage();
static void FreePageBuffers();
static void Shutdown();
static void CloseJob();
static ssize_t ReadRaster(void *context, unsigned char *buffer, size_t length);
[[maybe_unused]] static void CancelJob(int);

// ---------------------------------------------------------------------------
// Job loop

// Print every page of the raster job on the printer the PPD describes.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  // A band goes to the printer in one write, not in pieces of the C
  // library's default buffer: the output is still pushed out band by band.
  static char output_buffer[1 << 18];
  setvbuf(stdout, output_buffer, _IOFBF, sizeof(output_buffer));
  // A printer connection that closes must end in a reported error, not in
  // a silent death by SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  // A cancel must not leave the printer inside a raster command: the
  // backend keeps reading while we end the page. Interrupted reads and
  // writes restart, so no command is cut short by the signal itself.
  // (The fuzzer's process keeps its own handlers.)
  Cancelled = 0;
  OutputBroken = false;
#ifndef INKBANDS_FUZZ
  struct sigaction cancel = {};
  cancel.sa_handler = CancelJob;
  cancel.sa_flags = SA_RESTART;
  sigemptyset(&cancel.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &cancel, nullptr);
#endif

  RasterInput input = {};
  if (!OpenJob(argc, argv, &input)) return 1;
  cups_raster_t *raster = JobRaster;

  // An empty job is a job of no pages, not a broken one.
  JobFamily = FamilyFor(JobPpd->model_number);
  Setup();

  page_header_t header;
  int page = 0;
  bool ok = true;
  RasterEnded = false;
  size_t before_header = 0;
  while (ok && raster && !Cancelled &&
         (before_header = input.bytes, errno = 0, cupsRasterReadHeader2(raster, &header))) {
    page++;

    page_plan_t plan;
    char text[256];
    if (const char *refusal = MakePagePlan(&header, &plan, text, sizeof(text))) {
      ok = Fatal("Page %d: %s", page, refusal);
      break;
    }

    fprintf(stderr, "PAGE: %d %d\n", page, header.NumCopies);
    fprintf(stderr, "INFO: Starting page %d...\n", page);

    DumpHeader(&header);
    ok = StartPage(plan);

    // Once the data has run out the rest of the page is blank: stop there
    // rather than walk every empty line a broken header promises (billions).
    for (unsigned y = 0; ok && y < header.cupsHeight && !RasterEnded && !Cancelled; y++) {
      if ((y & 127) == 0) ReportProgress(page, y, header.cupsHeight);
      ok = ProcessLine(raster, (int)y);
    }
    if (!ok) break;

    if (!Cancelled) fprintf(stderr, "INFO: Finished page %d...\n", page);
    ok = EndPage();

    // Input that stops because the job was cancelled is no damaged job.
    if (ok && RasterEnded && !Cancelled)
      ok = Fatal("The print data ended in the middle of page %d; the rest of the page was "
                 "left blank.",
                 page);
  }

  int header_error = errno;

  // The raster library ends the page loop both at the end of the data and
  // at a page header it refuses (no lines, a depth or line size it cannot
  // read, a header cut short, a line buffer it cannot have): the latter
  // must not pass for a finished job with its last pages silently missing.
  bool at_end = input.ended && input.start == input.end;
  if (ok && !Cancelled && raster && header_error == ENOMEM)
    ok = Fatal("Unable to allocate memory for reading page %d.", page + 1);
  else if (ok && !Cancelled && raster && (!at_end || input.bytes > before_header))
    ok = Fatal("Page %d: the page header is damaged, cut short or describes no lines; the job "
               "was stopped there.",
               page + 1);

  return EndJob(ok, page);
}

// ---------------------------------------------------------------------------
// Job start

// End the job, the one place a job ends once it has started: reset the
// printer, report how it ended and give the exit status. A failed job has
// already said why; its page is released, and the printer is reset while
// it still takes data.
static int EndJob(bool ok, int page)
{
  if (ok) {
    Shutdown();
    ok = FlushOutput();
  }
  if (!ok) {
    FreePageBuffers();
    if (!OutputBroken) {
      Shutdown();
      fflush(stdout);
    }
    CloseJob();
    return 1;
  }
  CloseJob();

  if (Cancelled) {
    if (page == 0) {
      fputs("INFO: The job was cancelled before its first page; the printer was reset.\n", stderr);
      return 1;
    }
    fprintf(stderr,
            "INFO: The job was cancelled on page %d; the page was ejected and the "
            "printer reset.\n",
            page);
    return 0;
  }

  if (page == 0) {
    fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  return 0;
}

// Check the arguments, open the PPD and the raster stream; false, with the
// error reported, when the job cannot start. An empty stream opens no
// raster: it is a job of no pages.
static bool OpenJob(int argc, char *argv[], RasterInput *input)
{
  if (argc != 6 && argc != 7) {
    fputs("ERROR: inkbands job-id user title copies options [file]\n", stderr);
    return false;
  }

  const char *ppdname = getenv("PPD");
  if (!ppdname || !*ppdname) {
    fputs("ERROR: No PPD file specified (set the PPD environment variable).\n", stderr);
    return false;
  }
  // A PPD that cannot be read at all is reported by the system's reason,
  // one that is no PPD by what is wrong and where.
  struct stat info;
  int ppdfd = open(ppdname, O_RDONLY);
  int reason = ppdfd < 0 ? errno : fstat(ppdfd, &info) ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  if (ppdfd >= 0) close(ppdfd);
  if (reason) {
    fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s.\n", ppdname, strerror(reason));
    return false;
  }
  JobPpd = ppdOpenFile(ppdname);
  if (!JobPpd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    if (line > 0)
      fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s on line %d.\n", ppdname,
              ppdErrorString(status), line);
    else
      fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s.\n", ppdname,
              ppdErrorString(status));
    return false;
  }

  JobFd = 0;
  if (argc == 7) {
    JobFd = open(argv[6], O_RDONLY);
    if (JobFd == -1) {
      JobFd = 0;
      fprintf(stderr, "ERROR: Unable to open raster file - %s\n", strerror(errno));
      CloseJob();
      return false;
    }
  }

  // Raster through a pipe comes a line of tens of kilobytes at a time. A
  // pipe of a megabyte lets the rasterizer before the filter go on with its
  // band while the filter works, where 64 KB made both sides wait and wake
  // for nearly every line. A pipe that cannot grow (or a file) stays as it is.
  (void)fcntl(JobFd, F_SETPIPE_SZ, 1 << 20);

  input->fd = JobFd;
  JobRaster = cupsRasterOpenIO(ReadRaster, input, CUPS_RASTER_READ);
  if (!JobRaster && input->error) {
    fprintf(stderr, "ERROR: Unable to read raster data - %s\n", strerror(input->error));
    CloseJob();
    return false;
  }
  if (!JobRaster && input->bytes > 0) {
    fputs("ERROR: Unable to read raster data.\n", stderr);
    CloseJob();
    return false;
  }
  return true;
}

// Take a desktop printer out of packet mode and reset it.
static void Setup()
{
  if (JobFamily.flags & kDesk) {
    putbytes(kExitPacketMode, sizeof(kExitPacketMode) - 1);
    putbytes(kReset, 2);
  }
}

// ---------------------------------------------------------------------------
// Page plan

// Bits per printed dot: 2 where the printer prints variable dot sizes.
static int PageBitPlanes(const page_header_t *header)
{
  unsigned flags = JobFamily.flags;
  if ((flags & kTwoBit720) && header->HWResolution[1] >= 720) return 2;
  if ((flags & kTwoBit1440) && header->HWResolution[0] == 1440) return 2;
  if (!(flags & kTwoBit1440) && header->cupsCompression >= 2) return 2;
  return 1;
}

// Media class for the dot-size table: 0 plain paper and film, 1 the
// special papers, 2 everything else.
static int PaperClass(const page_header_t *header)
{
  const char *media = header->MediaType;
  if (!strncmp(media, "Plain", 5) || !strcmp(media, "Transparency")) return 0;
  if (!strcmp(media, "Special") || !strncmp(media, "Comm", 4) || !strcmp(media, "PublProof") ||
      !strcmp(media, "Archival") || !strcmp(media, "Watercolor") || !strcmp(media, "Matte"))
    return 1;
  return 2;
}

// Weave geometry from the header: rows per pass, vertical and horizontal
// interleave, feed. A vertical interleave of 0 is taken as 1, and a head
// pass shorter than its interleave cannot weave, so the printer gets the
// page unwoven.
static void PageWeave(const page_header_t *header, page_plan_t *plan)
{
  plan->row_max = plan->col_step = plan->asked_step = plan->asked_feed = 1;
  if (header->cupsRowCount <= 1) return;
  int row_max = header->cupsRowCount > INT_MAX ? INT_MAX : (int)header->cupsRowCount;
  int step = (int)(header->cupsRowStep % 100);
  unsigned cols = header->cupsRowStep / 100;
  if (step == 0) step = 1;
  if (row_max / step == 0) return;
  plan->row_max = row_max;
  plan->asked_feed = (int)header->cupsRowFeed;
  plan->asked_step = step;
  plan->col_step = cols == 0 ? 1 : (cols > INT_MAX ? INT_MAX : (int)cols);
}

// Ink planes the colour space asks for.
static int PagePlanes(const page_header_t *header)
{
  switch (FieldValue(header->cupsColorSpace)) {
  case CUPS_CSPACE_K: return 1;
  case CUPS_CSPACE_KCMY: return 4;
  case CUPS_CSPACE_KCMYcm: return 6;
  default: return 3;
  }
}

// Top of the printable area in rows, from the PPD's second page size;
// offset heads start lower, so their top moves up by the head offset.
static int PageTop(const page_header_t *header, const page_plan_t &plan)
{
  int top = 0;
  if (JobPpd->num_sizes >= 2) {
    double rows =
        ((double)JobPpd->sizes[1].length - JobPpd->sizes[1].top) * header->HWResolution[1] / 72.0;
    if (rows > INT_MAX) rows = INT_MAX;
    if (rows < INT_MIN) rows = INT_MIN;
    top = (int)rows;
  }
  // The head offsets are formed in 64 bits: a broken header's nozzle count
  // (up to 2^31) must not overflow on its way to the check that refuses it.
  if (JobFamily.head == kHeadOffsetEven) {
    long long even = plan.row_max / plan.asked_step;
    if (even & 1) even++;
    long long moved = top - 2 * even * plan.asked_step;
    top = moved < 0 ? 0 : (int)moved;
  } else if (JobFamily.head == kHeadStaggered) {
    long long moved = top - 2LL * plan.row_max;
    top = moved < 0 ? 0 : (int)moved;
  }
  return top;
}

// Rows in a full band once the head layout is taken into account, and the
// vertical interleave the bands then use.
static void BandGeometry(page_plan_t *plan)
{
  plan->row_step = plan->asked_step;
  plan->row_count = plan->asked_count = plan->row_max / plan->asked_step;
  // Only a woven grey page lays its rows out differently on these heads.
  if (plan->row_max <= 1 || plan->planes != 1 || JobFamily.head == kHeadInline) return;
  // Grey pages use three heads' worth of rows; a count beyond an int
  // saturates (CheckPage refuses it), it must not overflow.
  auto triple = [](long long rows) { return (int)(3 * rows > INT_MAX ? INT_MAX : 3 * rows); };
  if (JobFamily.head == kHeadOffsetEven)
    plan->row_count = triple((plan->row_count + 1LL) & ~1LL);
  else
    plan->row_count = triple(plan->row_count);
  if (JobFamily.head == kHeadGreySplit) {
    // Fewer than three nozzle rows between dots cannot be split three ways;
    // the head then steps one row at a time.
    plan->row_step = plan->asked_step / 3 < 1 ? 1 : plan->asked_step / 3;
  }
}

// Refuse a page that cannot be printed right, before any of its bytes is
// sent. Returns an error text, or null when the page can be printed.
static const char *CheckCommands(const page_header_t *header, const page_plan_t &plan, char *text,
                                 size_t size);
static const char *CheckPageSize(const page_header_t *header, const page_plan_t &plan, char *text,
                                 size_t size);

static const char *CheckPage(const page_header_t *header, const page_plan_t &plan, char *text,
                             size_t size)
{
  unsigned xdpi = header->HWResolution[0], ydpi = header->HWResolution[1];
  if (xdpi == 0 || ydpi == 0 || xdpi > kMaxResolution || ydpi > kMaxResolution) {
    snprintf(text, size, "unsupported resolution %ux%u dpi.", xdpi, ydpi);
    return text;
  }
  if (header->cupsBitsPerColor != 1 && header->cupsBitsPerColor != 8) {
    snprintf(text, size, "%u bits per colour are not supported (1 or 8).",
             header->cupsBitsPerColor);
    return text;
  }
  if (header->cupsWidth == 0) {
    snprintf(text, size, "the page is 0 pixels wide.");
    return text;
  }

  int planes = plan.planes, bits = plan.bit_planes, cols = plan.col_step;
  if (planes > 1 && FieldValue(header->cupsColorOrder) != CUPS_ORDER_BANDED) {
    snprintf(text, size, "colour order %u is not supported (banded only).",
             FieldValue(header->cupsColorOrder));
    return text;
  }

  uint64_t slots = (uint64_t)plan.asked_step * (uint64_t)cols;
  if (plan.row_max > 1 && slots > kBandSlots) {
    snprintf(text, size, "an interleave of %d columns by %d rows needs more than %d head passes.",
             cols, plan.asked_step, kBandSlots);
    return text;
  }

  uint64_t width = header->cupsWidth;
  uint64_t rowbytes = (width / (unsigned)cols * (unsigned)bits + 7) / 8;

  // The raster line must hold each plane's row where the band engine
  // looks for it.
  uint64_t line = header->cupsBytesPerLine;
  if (header->cupsBitsPerColor == 1) {
    // One-bit dots read as two-bit dots would print a squeezed, garbled
    // page.
    if (bits > 1) {
      snprintf(text, size,
               "pre-dithered 1-bit pages cannot be printed with 2-bit dots "
               "(cupsCompression %u at %ux%u dpi).",
               header->cupsCompression, xdpi, ydpi);
      return text;
    }
    if (line != (uint64_t)planes * rowbytes) {
      snprintf(text, size,
               "%u bytes per line do not match %d inks of %llu bytes of "
               "pre-dithered dots each.",
               header->cupsBytesPerLine, planes, (unsigned long long)rowbytes);
      return text;
    }
  } else if (line != (uint64_t)planes * width && !(planes == 6 && line == 4 * width)) {
    snprintf(text, size, "%u bytes per line do not match %u pixels of %d inks.",
             header->cupsBytesPerLine, header->cupsWidth, planes);
    return text;
  }

  return CheckCommands(header, plan, text, size);
}

// Refuse a page whose counts and units the printer's commands cannot carry;
// the rest of CheckPage.
static const char *CheckCommands(const page_header_t *header, const page_plan_t &plan, char *text,
                                 size_t size)
{
  unsigned xdpi = header->HWResolution[0], ydpi = header->HWResolution[1];
  int planes = plan.planes, bits = plan.bit_planes, cols = plan.col_step;
  int rowcount = plan.row_count, rowstep = plan.row_step;
  uint64_t rowbytes = ((uint64_t)header->cupsWidth / (unsigned)cols * (unsigned)bits + 7) / 8;

  // Every count must fit the field of the command that carries it.
  bool escape_i = JobFamily.command == kEscI;
  unsigned hunit = (unsigned)cols * 3600 / xdpi;
  unsigned vunit = (unsigned)rowstep * 3600 / ydpi;
  if (escape_i && (rowbytes > 65535 || rowcount > 65535)) {
    snprintf(text, size, "bands of %d rows of %llu bytes are too large for the printer.", rowcount,
             (unsigned long long)rowbytes);
    return text;
  }
  if (!escape_i && (rowbytes * 8 > 65535 || rowcount > 255 || hunit > 255 || vunit > 255)) {
    snprintf(text, size, "bands of %d rows of %llu dots are too large for the printer.", rowcount,
             (unsigned long long)rowbytes * 8);
    return text;
  }
  unsigned base = plan.raster_base;
  if (base && ((uint64_t)(base / ydpi) * rowstep > 255 || (uint64_t)(base / xdpi) * cols > 255)) {
    snprintf(text, size,
             "an interleave of %d columns by %d rows at %ux%u dpi does not fit the "
             "printer's raster unit.",
             cols, rowstep, xdpi, ydpi);
    return text;
  }

  // The unit commands count in whole fractions of an inch: a resolution
  // they cannot express would space the dots wrongly (a unit of 0, or
  // 1440 dpi dots 1/1800 inch apart on an ESC . printer).
  unsigned page_base = plan.page_base;
  bool fine = JobFamily.flags & kFineUnits;
  unsigned unit = 0;  // the unit that cannot space the dots
  if (page_base % ydpi || page_base / ydpi > 255 ||
      (fine && (page_base % xdpi || page_base / xdpi > 255)))
    unit = page_base;
  else if (base && (base % ydpi || base % xdpi))
    unit = base;
  else if (!escape_i && ((unsigned)cols * 3600 % xdpi || (unsigned)rowstep * 3600 % ydpi))
    unit = 3600;
  if (unit) {
    snprintf(text, size,
             "%ux%u dpi in %d interleave columns cannot be expressed in the "
             "printer's units of 1/%u inch.",
             xdpi, ydpi, cols, unit);
    return text;
  }
  if (!escape_i && bits > 1) {
    snprintf(text, size,
             "family %d prints 1-bit dots only; 2-bit dots (cupsCompression %u) "
             "cannot be sent to it.",
             JobFamily.number, header->cupsCompression);
    return text;
  }
  if ((JobFamily.flags & kNoLightInks) && planes == 6) {
    snprintf(text, size,
             "family %d printers have no light inks; six-ink pages cannot be printed "
             "on them.",
             JobFamily.number);
    return text;
  }

  return CheckPageSize(header, plan, text, size);
}

// Refuse a page too long for the page commands or too large for memory;
// the rest of CheckCommands.
static const char *CheckPageSize(const page_header_t *header, const page_plan_t &plan, char *text,
                                 size_t size)
{
  unsigned ydpi = header->HWResolution[1];
  int planes = plan.planes;
  uint64_t width = header->cupsWidth;
  uint64_t rowbytes = (width / (unsigned)plan.col_step * (unsigned)plan.bit_planes + 7) / 8;
  uint64_t slots = (uint64_t)plan.asked_step * (uint64_t)plan.col_step;

  // The page set-up commands carry the page length and the top margin in
  // 16 bits (32 on long-page printers and in the paper size command).
  uint64_t length = (uint64_t)header->PageSize[1] * ydpi / 72;
  uint64_t width_rows = (uint64_t)header->PageSize[0] * ydpi / 72;
  uint64_t bottom = (uint64_t)(unsigned)plan.top + header->cupsHeight;
  if (plan.top > 65535) {
    snprintf(text, size,
             "a top margin of %d rows at %u dpi (from the PPD's page sizes) is more "
             "than the printer's commands carry (65535).",
             plan.top, ydpi);
    return text;
  }
  uint64_t most = plan.long_pages ? UINT32_MAX : 65535;
  bool coded = false;
  for (const auto &paper : kPaperCodes) coded = coded || paper.length == header->PageSize[1];
  // The MS command's custom size counts 1/360 inch in 16 bits.
  if (plan.paper_size && !coded &&
      ((uint64_t)header->PageSize[0] * 5 > 65535 || (uint64_t)header->PageSize[1] * 5 > 65535)) {
    snprintf(text, size,
             "a custom page of %u x %u points is more than the printer's paper size "
             "command carries (13107 points).",
             header->PageSize[0], header->PageSize[1]);
    return text;
  }
  if ((plan.long_pages ? bottom : length) > most || length > UINT32_MAX ||
      width_rows > UINT32_MAX) {
    snprintf(text, size,
             "a page of %u x %u points at %u dpi is more than the printer's page "
             "commands carry (%llu rows).",
             header->PageSize[0], header->PageSize[1], ydpi, (unsigned long long)most);
    return text;
  }

  // Memory the page needs, refused before anything is allocated.
  uint64_t memory = 0;
  if (header->cupsBitsPerColor > 1) memory += width * (uint64_t)planes * 9 + 16 * 256;
  uint64_t band = (uint64_t)plan.row_count * rowbytes;
  if (plan.row_max > 1)
    memory += 4 * slots * (uint64_t)planes * (band + sizeof(dot_band_t));
  else
    memory += (uint64_t)planes * rowbytes;
  if (header->cupsCompression) memory += 5 * (band ? band : 1);
  if (memory > kMaxPageMemory) {
    snprintf(text, size,
             "the page would need %llu MB of memory (%u pixels wide, %d rows per "
             "pass).",
             (unsigned long long)(memory >> 20), header->cupsWidth, plan.row_max);
    return text;
  }
  return nullptr;
}

// The dot-size code of the family's table for the page's resolution and
// media, or -1 for none.
static int DotCode(const page_header_t *header, int bit_planes, int paper_class)
{
  const dot_codes_t &codes = *JobFamily.codes;
  unsigned key = codes.by_rows ? header->HWResolution[1] : header->HWResolution[0];
  int column = key == 360 ? 0 : key == 720 ? 1 : key == 1440 ? 2 : key == 2880 ? 3 : 4;
  const dot_code_t &code = codes.at[column];
  if (bit_planes > 1 && code.two_bit >= 0) return code.two_bit;
  const char *media = header->MediaType;
  bool plain = !strcmp(media, "Plain"), film = !strcmp(media, "Transparency");
  bool yes = true;
  switch (code.rule) {
  case kAnyMedia: yes = true; break;
  case kFilm: yes = film; break;
  case kPlainOrFilm: yes = plain || film; break;
  case kPlain: yes = plain; break;
  case kSpecial: yes = !strcmp(media, "Special"); break;
  case kPlainPaperClass: yes = paper_class == 0; break;
  }
  return yes ? code.yes : code.no;
}

// The family's dot-size row for the resolution and media: the nominal
// intensities the dither's lookup table is made from.
static const int *DotSizeRow(const page_header_t *header, int bit_planes, int paper_class,
                             int *values)
{
  unsigned x = header->HWResolution[0], y = header->HWResolution[1];
  for (const dot_row_t *row = JobFamily.dots; row->table; row++) {
    if (row->x != x || (row->y && row->y != y)) continue;
    if ((row->when == kThreeLevels && header->cupsCompression <= 1) ||
        (row->when == kTwoBit && bit_planes == 1))
      continue;
    *values = row->values;
    return row->table + row->values * paper_class;
  }
  *values = 2;
  return Series1_360 + 2 * paper_class;
}

// Work out every value of the page from its header and the job's family,
// refusing a page that cannot be printed right. Returns the refusal's text,
// or null with the plan made.
static void PlanCommands(const page_header_t *header, page_plan_t *plan);
static void PlanDither(const page_header_t *header, page_plan_t *plan);

static const char *MakePagePlan(const page_header_t *header, page_plan_t *plan, char *text,
                                size_t size)
{
  const family_t &family = JobFamily;
  unsigned flags = family.flags;
  unsigned xdpi = header->HWResolution[0], ydpi = header->HWResolution[1];
  *plan = page_plan_t();

  plan->xdpi = xdpi;
  plan->ydpi = ydpi;
  plan->bit_planes = PageBitPlanes(header);
  PageWeave(header, plan);
  plan->planes = PagePlanes(header);
  plan->length = (int)((uint64_t)header->PageSize[1] * ydpi / 72);
  plan->top = PageTop(header, *plan);
  BandGeometry(plan);
  plan->command = family.command;
  plan->raster_base = family.raster_base;
  // A 1/1440 inch base cannot space 2880 dpi dots (it would send a unit of
  // 0); such pages count in 1/2880 inch.
  if (plan->raster_base == 1440 && (xdpi > 1440 || ydpi > 1440)) plan->raster_base = 2880;
  plan->page_base = !(flags & kFineUnits) ? 3600 : xdpi == 2880 ? 2880 : 1440;
  plan->long_pages = flags & kLongPages;
  plan->paper_size = flags & kPaperSize;
  if (const char *refusal = CheckPage(header, *plan, text, size)) return refusal;

  // The raster and its bands.
  plan->width = (int)header->cupsWidth;
  plan->height = header->cupsHeight;
  plan->line_bytes = header->cupsBytesPerLine;
  plan->contone = header->cupsBitsPerColor > 1;
  plan->compress = header->cupsCompression != 0;
  plan->buffer_size =
      (int)((header->cupsWidth / (unsigned)plan->col_step * (unsigned)plan->bit_planes + 7) / 8);
  plan->row_feed = plan->asked_feed;
  plan->offset_head = family.head == kHeadOffsetEven || family.head == kHeadStaggered;
  if (plan->row_max > 1) {
    plan->pool = 4 * plan->asked_step * plan->col_step * plan->planes;
    if (family.head == kHeadOffsetEven && plan->planes > 1) {
      int even = (plan->asked_count + 1) & ~1;
      plan->offsets[0] = even * plan->asked_step;
      for (int p = 1; p < plan->planes; p++) plan->offsets[p] = (3 - p) * plan->offsets[0];
    } else if (family.head == kHeadStaggered && plan->planes > 1) {
      for (int p = 1; p < plan->planes; p++) plan->offsets[p] = (p - 1) * plan->row_max;
    }
    // The paper feed per pass: one pass's share of the nozzle rows, of
    // the other parity than the band's row count.
    plan->row_feed = plan->row_max / plan->col_step / plan->row_step;
    if ((plan->row_feed & 1) == (plan->row_count & 1)) plan->row_feed--;
    if (plan->row_feed <= 0) plan->row_feed = 1;
  }
  plan->raster_dot = flags & kRasterDot;
  plan->band_hunit = (int)(plan->col_step * 3600u / xdpi);
  plan->band_vunit = (int)(plan->row_step * 3600u / ydpi);
  plan->line_hunit = (int)(3600u / xdpi);
  plan->line_vunit = (int)(3600u / ydpi);

  PlanCommands(header, plan);
  PlanDither(header, plan);
  return nullptr;
}

// The page's set-up commands and remote-mode media settings.
static void PlanCommands(const page_header_t *header, page_plan_t *plan)
{
  unsigned flags = JobFamily.flags;
  unsigned xdpi = plan->xdpi, ydpi = plan->ydpi;
  plan->size_command =
      (flags & kSizeAlways) || (JobPpd->num_sizes > 0 && JobPpd->sizes[0].bottom < 36.0f);
  plan->large_format = !(flags & kDesk);
  bool plain = !strcmp(header->MediaType, "Plain");
  if (header->cupsBitsPerColor == 8 && (flags & kOneWayContone) && xdpi <= 720)
    plan->direction = kOneWay;
  else if (flags & kAnyDirection)
    plan->direction = kPrinterChooses;
  else
    plan->direction = plain ? kOneWay : kBothWays;
  if (plan->row_max != 1)
    plan->weave = kWeaveByFilter;
  else if (xdpi >= 1440)
    plan->weave = kWeaveFine;
  else if (plan->bit_planes == 1 || xdpi < 720 || ydpi < 720)
    plan->weave = kWeaveOn;
  else
    plan->weave = kWeave2Bit;
  plan->mono_colour =
      (flags & kMonoColour) ? (plan->planes == 1 ? kMonoPrinting : kColourPrinting) : 0;
  plan->speed = (flags & kSlow1440) && xdpi == 1440 ? kSpeed1440 : 0;
  plan->paper_class = PaperClass(header);
  int code = DotCode(header, plan->bit_planes, plan->paper_class);
  plan->dot_code = plan->raster_dot ? -1 : code;
  plan->dot_size = plan->raster_dot ? code : -1;

  // Remote-mode media settings.
  plan->remote = flags & kRemote;
  plan->media = header->cupsMediaType;
  plan->position = header->MediaPosition;
  plan->media_dots = flags & kMediaDots;
  plan->position_pc = !(flags & kDesk);
  plan->cutter = flags & kCutter;
  plan->cut = FieldValue(header->CutMedia) != 0;
  plan->points[0] = header->PageSize[0];
  plan->points[1] = header->PageSize[1];
}

// The dither of a contone page: dot sizes, black generation, light inks.
static void PlanDither(const page_header_t *header, page_plan_t *plan)
{
  unsigned flags = JobFamily.flags;
  bool plain = !strcmp(header->MediaType, "Plain");
  plan->dot_row = DotSizeRow(header, plan->bit_planes, plan->paper_class, &plan->dot_values);
  plan->levels = (flags & kSizeLevels) ? plan->bit_planes + 1 : 1 << plan->bit_planes;
  // A row lists only the dot sizes the printer has at this resolution;
  // more levels than values would dither into sizes nobody measured.
  if (plan->levels > plan->dot_values) plan->levels = plan->dot_values;
  int start;
  if (flags & kLateBlack)
    start = kBlackStartLate / plan->bit_planes + kBlackStartLateOffset;
  else if (FieldValue(header->cupsColorSpace) == CUPS_CSPACE_KCMYcm)
    start = kBlackStartSixInk / plan->bit_planes + kBlackStartSixInkOffset;
  else
    start = kBlackStart / plan->bit_planes;
  if (plain)
    plan->black_start = start / 4, plan->black_end = kBlackEndPlain;
  else if (!strcmp(header->MediaType, "Archival") || !strcmp(header->MediaType, "Watercolor"))
    plan->black_start = start / 4, plan->black_end = kBlackEndArt;
  else
    plan->black_start = start, plan->black_end = kBlackEndOther;
  plan->light_split = plan->planes == 6;
  const light_split_t &light = (flags & kPaleLight) ? kLightSplitPale : kLightSplit;
  int fineness = plan->xdpi == 360 ? 0 : plan->xdpi == 720 ? 1 : 2;
  plan->light_cyan = light.cyan[fineness];
  plan->light_magenta = light.magenta[fineness];
}

// ---------------------------------------------------------------------------
// Page start

static void QueueSetup();
static void StopDitherThreads();
static bool ColourSetup(const page_plan_t &plan);
static bool BandSetup(const page_plan_t &plan);
static void WritePageStart(const page_plan_t &plan);

// Prepare the printer and the filter for one page: every buffer is had
// before the page's first byte goes out, so a page that cannot be had is
// refused cleanly.
static bool StartPage(const page_plan_t &plan)
{
  Page = plan;
  BitPlanes = plan.bit_planes;
  PrinterPlanes = plan.planes;
  DotRowMax = plan.row_max;
  DotRowFeed = plan.row_feed;
  DotRowStep = plan.row_step;
  DotColStep = plan.col_step;
  PrinterLength = plan.length;
  PrinterTop = plan.top;
  OutputFeed = 0;
  HorizontalDpi = (int)plan.xdpi;
  DotRowCurrent = 0;
  DotRowCount = plan.row_count;
  DotBufferSize = plan.buffer_size;
  for (int p = 0; p < kMaxPlanes; p++) DotRowOffset[p] = plan.offsets[p];
  if (plan.dot_size >= 0) DotSize = plan.dot_size;
  fprintf(stderr, "DEBUG: BitPlanes = %d\n", BitPlanes);

  if (plan.contone && !ColourSetup(plan)) return false;
  if (!BandSetup(plan)) return false;
  WritePageStart(plan);
  return true;
}

// Log the page header, field by field, for the printing system's debug log.
static void DumpHeader(const page_header_t *header)
{
  fputs("DEBUG: StartPage...\n", stderr);
  fprintf(stderr, "DEBUG: MediaClass = \"%s\"\n", header->MediaClass);
  fprintf(stderr, "DEBUG: MediaColor = \"%s\"\n", header->MediaColor);
  fprintf(stderr, "DEBUG: MediaType = \"%s\"\n", header->MediaType);
  fprintf(stderr, "DEBUG: OutputType = \"%s\"\n", header->OutputType);
  fprintf(stderr, "DEBUG: AdvanceDistance = %d\n", header->AdvanceDistance);
  fprintf(stderr, "DEBUG: AdvanceMedia = %d\n", (int)FieldValue(header->AdvanceMedia));
  fprintf(stderr, "DEBUG: Collate = %d\n", (int)FieldValue(header->Collate));
  fprintf(stderr, "DEBUG: CutMedia = %d\n", (int)FieldValue(header->CutMedia));
  fprintf(stderr, "DEBUG: Duplex = %d\n", (int)FieldValue(header->Duplex));
  fprintf(stderr, "DEBUG: HWResolution = [ %d %d ]\n", header->HWResolution[0],
          header->HWResolution[1]);
  fprintf(stderr, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", header->ImagingBoundingBox[0],
          header->ImagingBoundingBox[1], header->ImagingBoundingBox[2],
          header->ImagingBoundingBox[3]);
  fprintf(stderr, "DEBUG: InsertSheet = %d\n", (int)FieldValue(header->InsertSheet));
  fprintf(stderr, "DEBUG: Jog = %d\n", (int)FieldValue(header->Jog));
  fprintf(stderr, "DEBUG: LeadingEdge = %d\n", (int)FieldValue(header->LeadingEdge));
  fprintf(stderr, "DEBUG: Margins = [ %d %d ]\n", header->Margins[0], header->Margins[1]);
  fprintf(stderr, "DEBUG: ManualFeed = %d\n", (int)FieldValue(header->ManualFeed));
  fprintf(stderr, "DEBUG: MediaPosition = %d\n", header->MediaPosition);
  fprintf(stderr, "DEBUG: MediaWeight = %d\n", header->MediaWeight);
  fprintf(stderr, "DEBUG: MirrorPrint = %d\n", (int)FieldValue(header->MirrorPrint));
  fprintf(stderr, "DEBUG: NegativePrint = %d\n", (int)FieldValue(header->NegativePrint));
  fprintf(stderr, "DEBUG: NumCopies = %d\n", header->NumCopies);
  fprintf(stderr, "DEBUG: Orientation = %d\n", (int)FieldValue(header->Orientation));
  fprintf(stderr, "DEBUG: OutputFaceUp = %d\n", (int)FieldValue(header->OutputFaceUp));
  fprintf(stderr, "DEBUG: PageSize = [ %d %d ]\n", header->PageSize[0], header->PageSize[1]);
  fprintf(stderr, "DEBUG: Separations = %d\n", (int)FieldValue(header->Separations));
  fprintf(stderr, "DEBUG: TraySwitch = %d\n", (int)FieldValue(header->TraySwitch));
  fprintf(stderr, "DEBUG: Tumble = %d\n", (int)FieldValue(header->Tumble));
  fprintf(stderr, "DEBUG: cupsWidth = %d\n", header->cupsWidth);
  fprintf(stderr, "DEBUG: cupsHeight = %d\n", header->cupsHeight);
  fprintf(stderr, "DEBUG: cupsMediaType = %d\n", header->cupsMediaType);
  fprintf(stderr, "DEBUG: cupsBitsPerColor = %d\n", header->cupsBitsPerColor);
  fprintf(stderr, "DEBUG: cupsBitsPerPixel = %d\n", header->cupsBitsPerPixel);
  fprintf(stderr, "DEBUG: cupsBytesPerLine = %d\n", header->cupsBytesPerLine);
  fprintf(stderr, "DEBUG: cupsColorOrder = %d\n", (int)FieldValue(header->cupsColorOrder));
  fprintf(stderr, "DEBUG: cupsColorSpace = %d\n", (int)FieldValue(header->cupsColorSpace));
  fprintf(stderr, "DEBUG: cupsCompression = %d\n", header->cupsCompression);
  fprintf(stderr, "DEBUG: cupsRowCount = %d\n", header->cupsRowCount);
  fprintf(stderr, "DEBUG: cupsRowFeed = %d\n", header->cupsRowFeed);
  fprintf(stderr, "DEBUG: cupsRowStep = %d\n", header->cupsRowStep);
}

// Prepare the dither of a contone page: pixel rows, error state, dot table,
// black generation and the light-ink split.
static bool ColourSetup(const page_plan_t &plan)
{
  size_t width = (size_t)plan.width;
  const int *row = plan.dot_row;

  // The block holds a whole line of every plane, light rows included even
  // when the raster line carries only K, C, M and Y.
  PixelBuffers[0] = (unsigned char *)calloc(width, (size_t)plan.planes);
  DitherState = cupsDitherNew(plan.width, plan.planes);
  DitherLut = cupsLutNew(row, plan.levels, 255);
  if (!PixelBuffers[0] || !DitherState || !DitherLut)
    return Fatal("Unable to allocate memory for the dither of a %u pixel line.",
                 (unsigned)plan.width);
  for (int p = 1; p < plan.planes; p++) PixelBuffers[p] = PixelBuffers[0] + p * width;

  fprintf(stderr, "DEBUG: dither = %p [%d %d %d]\n", (const void *)row, row[0], row[1],
          plan.dot_values > 2 ? row[2] : 0);
  fputs("DEBUG: DitherLut =\n", stderr);
  for (int i = 0; i < 256; i++) {
    if ((i & 7) == 0) fputs("DEBUG:", stderr);
    fprintf(stderr, " [%d %d]", DitherLut[i].pixel, DitherLut[i].error);
    if ((i & 7) == 7) fputs("\n", stderr);
  }

  cupsDitherSetBlackGeneration(plan.black_start, plan.black_end);
  if (plan.light_split) {
    cupsDitherSetLightCyan(plan.light_cyan);
    cupsDitherSetLightMagenta(plan.light_magenta);
  }
  QueueSetup();
  return true;
}

// Build the page's band pool (woven pages) or row block (unwoven pages)
// and the compression buffer.
static bool BandSetup(const page_plan_t &plan)
{
  fprintf(stderr, "DEBUG: DotBufferSize = %d\n", DotBufferSize);
  fprintf(stderr, "DEBUG: DotColStep = %d\n", DotColStep);
  fprintf(stderr, "DEBUG: DotRowMax = %d\n", DotRowMax);
  fprintf(stderr, "DEBUG: DotRowStep = %d\n", plan.asked_step);
  fprintf(stderr, "DEBUG: DotRowFeed = %d\n", plan.asked_feed);
  fprintf(stderr, "DEBUG: DotRowCount = %d\n", plan.asked_count);

  DotAvailList = nullptr;
  DotUsedList = nullptr;
  DotBuffers[0] = nullptr;

  fprintf(stderr, "DEBUG: model_number = %d\n", JobFamily.number);

  if (DotRowMax > 1) {
    if (plan.offset_head) {
      fputs("DEBUG: Offset head detected...\n", stderr);
      if (PrinterPlanes == 1)
        fprintf(stderr, "DEBUG: Updated DotRowCount=%d for grayscale output...\n", DotRowCount);
    }
    for (int p = 0; p < PrinterPlanes; p++)
      fprintf(stderr, "DEBUG: DotRowOffset[%d] = %d\n", p, DotRowOffset[p]);

    size_t band_bytes = (size_t)DotRowCount * (size_t)DotBufferSize;
    for (int i = 0; i < plan.pool; i++) {
      dot_band_t *band = (dot_band_t *)calloc(1, sizeof(dot_band_t));
      if (!band) return Fatal("Unable to allocate memory for %d print bands.", plan.pool);
      band->next = DotAvailList;
      DotAvailList = band;
      band->buffer = (unsigned char *)calloc(band_bytes ? band_bytes : 1, 1);
      if (!band->buffer)
        return Fatal("Unable to allocate memory for %d print bands of %d rows.", plan.pool,
                     DotRowCount);
    }

    fputs("Pointer list at start of page...\n", stderr);
    for (dot_band_t *band = DotAvailList; band; band = band->next)
      fprintf(stderr, "%p\n", (void *)band);
    fputs("----END----\n", stderr);

    // The feed visits every slot when it shares no factor with the slot
    // count; otherwise each step takes the next slot still empty, so that
    // every slot gets its band and every row of the page is printed.
    int slots = DotColStep * DotRowStep;
    bool placed[kBandSlots] = {};
    int next = slots - 1;
    int pos = DotRowFeed;
    for (int i = 0; i < slots; i++) {
      int slot = next;
      while (placed[slot]) slot = (slot + 1) % slots;
      placed[slot] = true;
      for (int p = 0; p < PrinterPlanes; p++) {
        dot_band_t *band = DotAvailList;
        DotAvailList = band->next;
        DotBands[slot][p] = band;
        band->x = slot / DotRowStep;
        band->y = slot % DotRowStep + DotRowOffset[p];
        band->plane = p;
        band->row = 0;
        int count = DotRowCount - pos / DotRowStep;
        if (count <= 0)
          count = 1;
        else if (count > DotRowCount)
          count = DotRowCount;
        band->count = count;
        fprintf(stderr, "DEBUG: DotBands[%d][%d] = %p, x = %d, y = %d, plane = %d, count = %d\n",
                slot, p, (void *)band, band->x, band->y, band->plane, band->count);
      }
      next = (int)(((long long)next + DotRowFeed) % slots);
      pos += DotRowFeed;
    }
  } else {
    DotBuffers[0] = (unsigned char *)calloc((size_t)PrinterPlanes * DotBufferSize + 1, 1);
    if (!DotBuffers[0])
      return Fatal("Unable to allocate memory for a line of %d bytes.",
                   PrinterPlanes * DotBufferSize);
    for (int p = 1; p < PrinterPlanes; p++) DotBuffers[p] = DotBuffers[0] + p * DotBufferSize;
  }

  if (plan.compress) {
    size_t size = 5 * (size_t)DotRowCount * (size_t)DotBufferSize;
    CompBuffer = (unsigned char *)malloc(size ? size : 1);
    if (!CompBuffer)
      return Fatal("Unable to allocate memory for compressing bands of %d rows.", DotRowCount);
  }
  return true;
}

// The MS size bytes: the printer's code for a standard paper length, or a
// custom size in 1/360 inch.
static void WritePaperSize(const page_plan_t &plan)
{
  for (const auto &size : kPaperCodes) {
    if (plan.points[1] == size.length) {
      WriteRemote("MS", {0, plan.position > 47 ? 1u : 0u, size.code[0], size.code[1], Le32(0)});
      return;
    }
  }
  WriteRemote("MS", {0, plan.position > 47 ? 1u : 0u, 0xFF, 0xFF, Le16(plan.points[0] * 5),
                     Le16(plan.points[1] * 5)});
}

// Remote-mode block: the page's media type, source, size and cutter.
static void WriteRemoteSettings(const page_plan_t &plan)
{
  unsigned media = plan.media;
  EnterRemoteMode();
  WriteRemote("ST", {0, 0});
  if (media) {
    unsigned nibble0 = media & 15, nibble1 = (media >> 4) & 15;
    unsigned nibble2 = (media >> 8) & 15, nibble3 = (media >> 12) & 15;
    if (nibble0) WriteRemote("SN", {0, 0, nibble0});
    WriteRemote("SN", {0, 1, nibble1 == 15 ? 0xF0 : nibble1});
    if (plan.media_dots) {
      bool fine = plan.xdpi == 1440;
      WriteRemote("SN", {0, 2, fine ? 2u : 0u});
      WriteRemote("SN", {0, 6, fine ? 1u : 0u});
    }
    if (plan.position) {
      if (plan.position_pc) {
        WriteRemote("PC", {0, 0});
        WriteRemote("PP", {0, plan.position >> 4, plan.position & 15});
      } else
        WriteRemote("EX", {0, 0, 0, 0, 5, plan.position});
    }
    if (nibble2) WriteRemote("MT", {0, 0, nibble2});
    if (nibble3) WriteRemote("PH", {0, nibble3});
  }
  if (plan.paper_size) WritePaperSize(plan);
  if (plan.cutter) WriteRemote("AC", {0, plan.cut ? 1u : 0u});
  LeaveRemoteMode();
}

// The ESC/P2 set-up of the page: reset, media settings, graphics mode,
// units, paper size, page format, start position, direction, microweave,
// then mono or colour, the raster unit and the dot size.
static void WritePageStart(const page_plan_t &plan)
{
  unsigned xdpi = plan.xdpi, ydpi = plan.ydpi;

  putbytes(kReset, 2);
  if (plan.remote) WriteRemoteSettings(plan);

  WriteParen('G', {1});

  unsigned base = plan.page_base;
  if (base == 3600)
    WriteParen('U', {base / ydpi});
  else
    WriteParen('U', {base / ydpi, base / ydpi, base / xdpi, Le16(base)});

  if (plan.size_command)
    WriteParen('S', {Le32((unsigned)((uint64_t)plan.points[0] * ydpi / 72)),
                     Le32((unsigned)((uint64_t)plan.points[1] * ydpi / 72))});
  else
    WriteParen('C', {Le16((unsigned)plan.length)});

  if (plan.long_pages)
    WriteParen('c', {Le32((unsigned)plan.top), Le32((unsigned)plan.top + plan.height)});
  else
    WriteParen('c', {Le16((unsigned)plan.top), Le16((unsigned)plan.length)});

  WriteParen('V', {Le16((unsigned)plan.top)});

  putbytes("\033U", 2);
  put8(plan.direction);

  if (plan.large_format) {
    putchar(0x1B);
    for (int i = 0; i < 27; i++) putchar(0);
  }

  WriteParen('i', {(unsigned)plan.weave});

  if (plan.mono_colour) WriteParen('K', {0, (unsigned)plan.mono_colour});
  if (plan.raster_base)
    WriteParen('D', {Le16(plan.raster_base), plan.raster_base / ydpi * (unsigned)plan.row_step,
                     plan.raster_base / xdpi * (unsigned)plan.col_step});
  if (plan.speed) WriteParen('s', {(unsigned)plan.speed});
  if (plan.dot_code >= 0) WriteParen('e', {0, (unsigned)plan.dot_code});
}

// ---------------------------------------------------------------------------
// Lines

static void ReadPixels(cups_raster_t *raster, unsigned char *buffer, unsigned length);
static void DitherLine(unsigned char *const *rows, unsigned bytes, int width);
static bool QueueLine(cups_raster_t *raster, int y);
static bool QueueOn;  // the page's lines go through the dither threads' queue
static bool PackLine(int y, unsigned char *const *rows, bool blank);
static bool StoreRow(int slot, int plane);

// Where a band's next row goes in its buffer.
static unsigned char *NextRow(dot_band_t *band)
{
  return band->buffer + (size_t)band->row * DotBufferSize;
}
static bool OutputLine();

// Turn one raster line into printer rows: dither, pack, weave or send.
static bool ProcessLine(cups_raster_t *raster, int y)
{
  unsigned bytes = Page.line_bytes;

  if (!Page.contone) {
    if (DotRowMax > 1) {
      // Pre-dithered dots are stored as they come, in column 0.
      int slot = y % DotRowStep;
      for (int p = 0; p < PrinterPlanes; p++) {
        dot_band_t *band = DotBands[slot][p];
        ReadPixels(raster, NextRow(band), (unsigned)DotBufferSize);
        if (!StoreRow(slot, p)) return false;
      }
      return true;
    }
    ReadPixels(raster, DotBuffers[0], bytes);
    if (!cupsCheckBytes(DotBuffers[0], (int)bytes)) return OutputLine();
    OutputFeed++;
    return true;
  }

  if (QueueOn) return QueueLine(raster, y);

  ReadPixels(raster, PixelBuffers[0], bytes);
  int width = Page.width;
  bool blank = cupsCheckBytes(PixelBuffers[0], (int)bytes);
  if (!blank)
    DitherLine(PixelBuffers, bytes, width);
  else if (DotRowMax > 1 && PrinterPlanes > 4)
    memset(PixelBuffers[4], 0, 2 * (size_t)width);
  return PackLine(y, PixelBuffers, blank);
}

// Read the next length bytes of the page; a stream that ends early leaves
// zeros, so a cut-off job never prints garbage as page content.
static void ReadPixels(cups_raster_t *raster, unsigned char *buffer, unsigned length)
{
  if (!RasterEnded && length && cupsRasterReadPixels(raster, buffer, length) == length) return;
  if (length) RasterEnded = true;
  memset(buffer, 0, length);
}

// Dither one line of every plane with the one-thread calls of the library.
static void DitherLine(unsigned char *const *rows, unsigned bytes, int width)
{
  switch (PrinterPlanes) {
  case 1: cupsDither1(DitherState, DitherLut, rows[0]); break;
  case 3: cupsDither3(DitherState, DitherLut, rows[0], rows[1], rows[2]); break;
  case 4: cupsDither4(DitherState, DitherLut, DitherLut, rows[1], rows[2], rows[3], rows[0]); break;
  case 6:
    // A line that carries only K, C, M and Y gets its light rows from
    // the ink split; they start empty, never stale.
    if (bytes < 6u * width) memset(rows[4], 0, 2 * (size_t)width);
    cupsDither6(DitherState, DitherLut, DitherLut, rows[1], rows[2], rows[3], rows[0], rows[4],
                rows[5]);
    break;
  }
}

// ---------------------------------------------------------------------------
// Dither threads. The main thread reads each line and makes it ready (the
// ink split, and where each ink's share of the random weights starts in
// their one sequence), then packs and sends the dithered lines in page
// order, up to kQueuedLines behind. A worker dithers the lines.
//
// Raster that comes through a pipe is being rendered by the filter before
// ours at the same time, and that one needs a processor too: the worker
// dithers all inks of a line side by side, which costs the least processor
// time. Raster read from a file leaves both processors to us, and the main
// thread shares the work: it dithers the first third of the inks of each
// line it reads (the inks' error chains are independent) and the worker the
// rest, so that both finish a line at about the same time. Each thread
// draws its inks' weights itself, so that only the ink amounts pass between
// processors. The printer gets the same bytes as from one thread.

// The queue holds enough lines to keep the worker busy while the rasterizer
// before the filter renders its next band and sends nothing.
constexpr int kQueuedLines = 32;                   // lines between reading and sending
constexpr uint64_t kMaxQueueMemory = 64ull << 20;  // bytes the queue may take

// One line on its way from the raster to the bands.
struct QueuedLine
{
  unsigned char *pixels;  // one row per plane
  dither_line_t *line;    // the line made ready for the worker
  int y;                  // raster line on the page
  bool blank;             // no ink: nothing to dither
  bool done;              // nothing left for the worker to dither
};

static int DitherThreads = -1;  // threads allowed; 1: the main thread alone
static bool WorkerStarted;      // the worker runs, for the rest of the job
static QueuedLine Queue[kQueuedLines];
static int QueueWidth, QueuePlanes;  // size the queue's buffers have
static long QueueRead, QueueSent;    // lines read and made ready; lines sent
static long WorkerDone;              // lines the worker has dithered
static int MainInks;                 // inks of each line the main thread dithers
static bool WorkerBusy;              // the worker is in the middle of a line
static bool QueueStopped;            // the worker takes no more lines
static long MainUntil = -1;          // lines the main thread waits to see dithered
static bool MainStopping;            // the main thread waits for an idle worker
// Plain POSIX objects: nothing to destroy at exit while the worker waits.
static pthread_mutex_t QueueLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t WorkerReady = PTHREAD_COND_INITIALIZER;  // a line for the worker
static pthread_cond_t QueueDone = PTHREAD_COND_INITIALIZER;    // what the main thread waits for

// Threads to dither with: INKBANDS_THREADS, else the processors the filter
// may run on.
static int DitherThreadCount()
{
  const char *value = getenv("INKBANDS_THREADS");
  if (value && *value) {
    char *end;
    long n = strtol(value, &end, 10);
    if (*end == '\0' && n >= 1) return n > kMaxPlanes ? kMaxPlanes : (int)n;
    fprintf(stderr, "DEBUG: INKBANDS_THREADS=\"%s\" is not a thread count; ignored.\n", value);
  }
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof(cpus), &cpus) == 0 && CPU_COUNT(&cpus) > 1)
    return CPU_COUNT(&cpus) > kMaxPlanes ? kMaxPlanes : CPU_COUNT(&cpus);
  return 1;
}

// True when the worker has a line to dither.
static bool CanDither()
{
  return !QueueStopped && WorkerDone < QueueRead;
}

// The worker: dithers its inks of each line made ready, in order.
static void *DitherWorker(void *)
{
  pthread_mutex_lock(&QueueLock);
  for (;;) {
    while (!CanDither()) pthread_cond_wait(&WorkerReady, &QueueLock);
    const QueuedLine &queued = Queue[WorkerDone % kQueuedLines];
    WorkerBusy = true;
    pthread_mutex_unlock(&QueueLock);
    if (!queued.done)
      cupsDitherPlanes(DitherState, queued.line, MainInks, PrinterPlanes - MainInks);
    pthread_mutex_lock(&QueueLock);
    WorkerBusy = false;
    WorkerDone++;
    if (MainStopping || (MainUntil >= 0 && WorkerDone >= MainUntil))
      pthread_cond_signal(&QueueDone);
  }
  return nullptr;
}

// Release the queue's line buffers.
static void FreeQueue()
{
  for (QueuedLine &queued : Queue) {
    free(queued.pixels);
    cupsDitherLineDelete(queued.line);
    queued.pixels = nullptr;
    queued.line = nullptr;
  }
  QueueWidth = QueuePlanes = 0;
}

// Set up the queue and the worker for a contone page; a page they cannot be
// had for goes through the main thread alone.
static void QueueSetup()
{
  QueueOn = false;
  if (DitherThreads < 0) DitherThreads = DitherThreadCount();
  // One ink's dither is too short a step to hand to another thread: the
  // hand-over costs what the overlap saves.
  if (DitherThreads < 2 || PrinterPlanes < 3) return;

  // A line in the queue holds its ink amounts, and where the library draws
  // the weights ahead four bytes of weights per pixel and plane; a roll too
  // wide for a modest queue goes the one way.
  int width = Page.width;
  if ((uint64_t)width * PrinterPlanes * 5 * kQueuedLines > kMaxQueueMemory) return;
  if (width != QueueWidth || PrinterPlanes != QueuePlanes) {
    FreeQueue();
    for (QueuedLine &queued : Queue) {
      queued.pixels = (unsigned char *)calloc((size_t)width, (size_t)PrinterPlanes);
      queued.line = cupsDitherLineNew(width, PrinterPlanes);
      if (!queued.pixels || !queued.line) {
        FreeQueue();
        return;
      }
    }
    QueueWidth = width;
    QueuePlanes = PrinterPlanes;
  }

  if (!WorkerStarted) {
    // Signals belong to the main thread: the worker starts with them blocked.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    WorkerStarted = pthread_create(&thread, nullptr, DitherWorker, nullptr) == 0;
    if (WorkerStarted) pthread_detach(thread);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (!WorkerStarted) return;
  }

  pthread_mutex_lock(&QueueLock);
  // From a file the main thread takes a third of the inks: with reading,
  // making ready, packing and sending each line on top, that keeps it about
  // as busy as the worker with the other two thirds.
  struct stat input;
  bool file = fstat(JobFd, &input) == 0 && S_ISREG(input.st_mode);
  MainInks = file ? PrinterPlanes / 3 : 0;
  QueueRead = QueueSent = WorkerDone = 0;
  QueueStopped = false;
  QueueOn = true;
  pthread_mutex_unlock(&QueueLock);
}

// The page's progress goes out between the same lines as with one thread:
// once the lines before it are sent, which for lines still in the queue is
// when they leave it. Holding the message back instead of emptying the
// queue for it keeps the threads from waiting on each other every 128
// lines.
static long ProgressDue = -1;  // the line a held message goes out before
static char ProgressText[96];

static void ReportProgress(int page, unsigned y, unsigned height)
{
  snprintf(ProgressText, sizeof(ProgressText), "INFO: Printing page %d, %u%% complete...\n", page,
           (unsigned)((uint64_t)y * 100 / height));
  ProgressDue = -1;
  if (QueueOn && QueueSent < (long)y)
    ProgressDue = y;
  else
    fputs(ProgressText, stderr);
}

// Pack and send the lines the worker has finished, waiting until at least
// the first until lines of the page are sent. The main thread has dithered
// its inks of every line read.
static bool SendQueuedLines(long until)
{
  pthread_mutex_lock(&QueueLock);
  MainUntil = until;
  while (WorkerDone < until) pthread_cond_wait(&QueueDone, &QueueLock);
  MainUntil = -1;
  long ready = WorkerDone;
  pthread_mutex_unlock(&QueueLock);
  int width = Page.width;
  for (; QueueSent < ready; QueueSent++) {
    QueuedLine &queued = Queue[QueueSent % kQueuedLines];
    unsigned char *rows[kMaxPlanes];
    for (int p = 0; p < PrinterPlanes; p++) rows[p] = queued.pixels + (size_t)p * width;
    if (!PackLine(queued.y, rows, queued.blank)) return false;
    if (QueueSent + 1 == ProgressDue) {
      fputs(ProgressText, stderr);
      ProgressDue = -1;
    }
  }
  return true;
}

// Read one line into the queue and make it ready for the worker.
static bool QueueLine(cups_raster_t *raster, int y)
{
  // A full queue waits for half of it, so that the threads do not take
  // turns line by line.
  if (QueueRead - QueueSent == kQueuedLines && !SendQueuedLines(QueueSent + kQueuedLines / 2))
    return false;

  unsigned bytes = Page.line_bytes;
  int width = Page.width;
  QueuedLine &queued = Queue[QueueRead % kQueuedLines];
  unsigned char *rows[kMaxPlanes] = {};
  for (int p = 0; p < PrinterPlanes; p++) rows[p] = queued.pixels + (size_t)p * width;

  ReadPixels(raster, queued.pixels, bytes);
  queued.y = y;
  queued.blank = queued.done = cupsCheckBytes(queued.pixels, (int)bytes);
  if (PrinterPlanes == 6 && (queued.blank || bytes < 6u * width))
    memset(rows[4], 0, 2 * (size_t)width);

  if (!queued.blank) {
    // The library takes cyan, magenta, yellow, black, light cyan, light
    // magenta; a four- or six-ink raster line starts with black.
    unsigned char *inks[kMaxPlanes] = {rows[1], rows[2], rows[3], rows[0], rows[4], rows[5]};
    if (!cupsDitherPrepare(DitherState, queued.line, DitherLut, DitherLut,
                           PrinterPlanes >= 4 ? inks : rows, PrinterPlanes)) {
      // A line only the one-thread calls can dither (a dot table with
      // absurd residuals) is dithered here once the lines before it are.
      if (!SendQueuedLines(QueueRead)) return false;
      DitherLine(rows, bytes, width);
      queued.done = true;
    }
  }

  pthread_mutex_lock(&QueueLock);
  QueueRead++;
  if (CanDither()) pthread_cond_signal(&WorkerReady);
  pthread_mutex_unlock(&QueueLock);
  // The main thread's inks, while the worker dithers the rest.
  if (MainInks > 0 && !queued.done) cupsDitherPlanes(DitherState, queued.line, 0, MainInks);
  // The page's end sends every line, as with one thread, before the
  // messages that follow it.
  bool last = y + 1u >= Page.height || RasterEnded;
  return SendQueuedLines(last ? QueueRead : QueueSent);
}

// Send every line still in the queue: the page is read to its end.
static bool FinishQueue()
{
  return !QueueOn || SendQueuedLines(QueueRead);
}

// Stop the worker at the end of the line it dithers, before the page's
// buffers go.
static void StopDitherThreads()
{
  if (!WorkerStarted) return;
  pthread_mutex_lock(&QueueLock);
  QueueStopped = true;
  QueueOn = false;
  MainStopping = true;
  while (WorkerBusy) pthread_cond_wait(&QueueDone, &QueueLock);
  MainStopping = false;
  pthread_mutex_unlock(&QueueLock);
}

// ---------------------------------------------------------------------------
// Band engine

static bool FullBand(int slot, int plane);
static void AddBand(dot_band_t *band);
static bool OutputBand(dot_band_t *band);
static void CompressData(const unsigned char *data, int length, int plane, int rows, int hunit,
                         int vunit, int offset);

// Pack one dithered line into the printer's rows: woven into the bands, or
// sent as it is when the page is not woven.
static bool PackLine(int y, unsigned char *const *rows, bool blank)
{
  int width = Page.width;

  if (DotRowMax == 1) {
    if (blank) {
      OutputFeed++;
      return true;
    }
    for (int p = 0; p < PrinterPlanes; p++) {
      if (BitPlanes == 1)
        cupsPackHorizontal(rows[p], DotBuffers[p], width, 0, 1);
      else
        cupsPackHorizontal2(rows[p], DotBuffers[p], width, 1);
    }
    return OutputLine();
  }

  int columns = width / DotColStep;
  int slot = y % DotRowStep;
  if (BitPlanes == 2) {
    // Every column of a plane's row at once (a woven page has no more
    // columns than band slots), then the rows stored in the same order as
    // one by one: storing a row only ever hands on its own band.
    for (int p = 0; p < PrinterPlanes; p++) {
      unsigned char *outs[kBandSlots];
      for (int x = 0; x < DotColStep; x++) {
        outs[x] = NextRow(DotBands[slot + x * DotRowStep][p]);
      }
      cupsPackColumns2(rows[p], outs, columns, DotColStep);
    }
    for (int x = 0; x < DotColStep; x++, slot += DotRowStep)
      for (int p = 0; p < PrinterPlanes; p++)
        if (!StoreRow(slot, p)) return false;
    return true;
  }
  for (int x = 0; x < DotColStep; x++, slot += DotRowStep) {
    for (int p = 0; p < PrinterPlanes; p++) {
      cupsPackHorizontal(rows[p] + x, NextRow(DotBands[slot][p]), columns, 0, DotColStep);
      if (!StoreRow(slot, p)) return false;
    }
  }
  return true;
}

// Store one packed row into a band and hand the band on when it is full.
static bool StoreRow(int slot, int plane)
{
  dot_band_t *band = DotBands[slot][plane];
  const unsigned char *stored = NextRow(band);
  band->row++;
  // Once a band holds ink, its further rows need no look.
  if (!(band->dirty & 1) && !cupsCheckBytes(stored, DotBufferSize)) band->dirty |= 1;
  return band->row < band->count || FullBand(slot, plane);
}

// A band has received its last row: advance it in place when it holds no
// ink, else queue it and give its slot a fresh band.
static bool FullBand(int slot, int plane)
{
  dot_band_t *band = DotBands[slot][plane];

  if (!(band->dirty & 1)) {
    // A clean band prints nothing: it simply moves on to its next rows.
    fprintf(stderr, "DEBUG: Blank band %p, x = %d, y = %d, plane = %d, count = %d\n", (void *)band,
            band->x, band->y, band->plane, band->count);
    band->row = 0;
    band->y += band->count * DotRowStep;
    band->count = DotRowCount;
    return true;
  }

  AddBand(band);
  DotBands[slot][plane] = nullptr;  // the band now waits in DotUsedList

  dot_band_t *replacement;
  if (DotAvailList) {
    replacement = DotAvailList;
    DotAvailList = replacement->next;
  } else {
    // A band that could not be sent stays in DotUsedList for the job's end.
    replacement = DotUsedList;
    if (!OutputBand(replacement)) return false;
    DotUsedList = replacement->next;
  }

  DotBands[slot][plane] = replacement;
  replacement->x = band->x;
  replacement->y = band->y + band->count * DotRowStep;
  replacement->plane = band->plane;
  replacement->row = 0;
  replacement->count = DotRowCount;
  return true;
}

// Queue a full band with ink in print order: by row, then column, then plane.
static void AddBand(dot_band_t *band)
{
  if (band->count <= 0) return;

  dot_band_t *last = nullptr, *current = DotUsedList;
  for (; current; last = current, current = current->next) {
    if (band->y < current->y || (band->y == current->y && band->x < current->x) ||
        (band->y == current->y && band->x == current->x && band->plane < current->plane))
      break;
  }

  band->prev = last;
  band->next = current;
  if (current) current->prev = band;
  if (last)
    last->next = band;
  else
    DotUsedList = band;
}

// Move the paper to a band's row and send all its rows in one command.
static bool OutputBand(dot_band_t *band)
{
  // A cancelled job sends no more rows; the band is only emptied.
  if (!Cancelled) {
    OutputFeed = band->y - DotRowCurrent;
    DotRowCurrent = band->y;

    fprintf(stderr,
            "DEBUG: Printing band %p, x = %d, y = %d, plane = %d, count = %d, "
            "OutputFeed = %d\n",
            (void *)band, band->x, band->y, band->plane, band->count, OutputFeed);

    if (OutputFeed > 0) {
      WriteVerticalFeed(OutputFeed);
      OutputFeed = 0;
    }

    CompressData(band->buffer, band->count * DotBufferSize, band->plane, band->count,
                 Page.band_hunit, Page.band_vunit, band->x);
  }

  memset(band->buffer, 0, (size_t)band->count * DotBufferSize);
  band->dirty = 0;
  return FlushOutput();
}

// Send one unwoven line: the pending feed, then every plane's row.
static bool OutputLine()
{
  for (int p = 0; p < PrinterPlanes && !Cancelled; p++) {
    // The feed goes out once, before the first plane of the line.
    if (OutputFeed > 0) {
      WriteVerticalFeed(OutputFeed);
      OutputFeed = 0;
    }
    CompressData(DotBuffers[p], DotBufferSize, p, 1, Page.line_hunit, Page.line_vunit, 0);
  }
  OutputFeed++;
  return FlushOutput();
}

// Send one block of packed rows of one plane as a raster command:
// carriage return, column offset, colour, then ESC i or ESC . with the rows,
// PackBits-compressed when that is shorter.
static void CompressData(const unsigned char *data, int length, int plane, int rows, int hunit,
                         int vunit, int offset)
{
  if (PrinterPlanes == 3) plane++;

  // The printer takes a band as one buffer: runs go on across its rows.
  const unsigned char *send = data;
  size_t send_length = (size_t)length;
  int compressed = 0;
  if (Page.compress && length > 0) {
    size_t packed = cupsPackBits(data, (size_t)length, CompBuffer, (size_t)length);
    if (packed) {
      send = CompBuffer;
      send_length = packed;
      compressed = 1;
    }
  }

  putchar(0x0D);

  if (Page.raster_dot)
    WriteParen('e', {(unsigned)offset, (unsigned)DotSize});
  else if (offset) {
    if (BitPlanes == 1) {
      // The move counts in 1/1440 inch (1/2880 at 2880 dpi): an
      // interleave column sits one dot of the page's resolution to the right.
      int unit = HorizontalDpi > 1440 ? HorizontalDpi : 1440;
      WriteParen('\\', {Le16((unsigned)unit),
                        Le16((unsigned)(int)((long long)offset * unit / HorizontalDpi))});
    } else {
      putbytes("\033\\", 2);
      put16(offset);
    }
  }

  int row_bytes = rows ? length / rows : 0;
  if (Page.command == kEscI) {
    putbytes("\033i", 2);
    put8(ctable[plane]);
    put8(compressed);
    put8(BitPlanes);
    put16(row_bytes);
    put16(rows);
  } else {
    if (PrinterPlanes > 1) {
      if (plane < 4) {
        putbytes("\033r", 2);
        put8(ctable[plane]);
      } else
        WriteParen('r', {1, (unsigned)ctable[plane] & 15});
    }
    putbytes("\033.", 2);
    put8(compressed);
    put8(vunit);
    put8(hunit);
    put8(rows);
    put16(row_bytes * 8);
  }

  fwrite(send, 1, send_length, stdout);
}

// ---------------------------------------------------------------------------
// Page and job end

// Finish the page: send every band still waiting, free the page's
// buffers and eject the sheet.
static bool EndPage()
{
  if (!FinishQueue()) return false;
  if (DotRowMax > 1) {
    for (int s = 0; s < DotRowStep * DotColStep; s++) {
      for (int p = 0; p < PrinterPlanes; p++) {
        dot_band_t *band = DotBands[s][p];
        if (band->dirty & 1) {
          band->count = band->row;
          AddBand(band);
        } else {
          band->next = DotAvailList;
          DotAvailList = band;
        }
        DotBands[s][p] = nullptr;
      }
    }

    fputs("Pointer list at end of page...\n", stderr);
    for (dot_band_t *band = DotUsedList; band; band = band->next)
      fprintf(stderr, "%p\n", (void *)band);
    for (dot_band_t *band = DotAvailList; band; band = band->next)
      fprintf(stderr, "%p\n", (void *)band);
    fputs("----END----\n", stderr);

    // The list heads follow the bands as they go, so that a job stopped
    // half-way never frees a band twice.
    while (dot_band_t *band = DotUsedList) {
      if (!OutputBand(band)) return false;
      fprintf(stderr, "DEBUG: freeing used band %p, prev = %p, next = %p\n", (void *)band,
              (void *)band->prev, (void *)band->next);
      DotUsedList = band->next;
      free(band->buffer);
      free(band);
    }
    while (dot_band_t *band = DotAvailList) {
      fprintf(stderr, "DEBUG: freeing avail band %p, prev = %p,  next = %p\n", (void *)band,
              (void *)band->prev, (void *)band->next);
      DotAvailList = band->next;
      free(band->buffer);
      free(band);
    }
  }

  putchar(0x0C);
  FreePageBuffers();
  return FlushOutput();
}

// Release everything a page set up: bands wherever they are, row blocks,
// the dither and the compression buffer.
static void FreePageBuffers()
{
  StopDitherThreads();
  for (int s = 0; s < kBandSlots; s++) {
    for (int p = 0; p < kMaxPlanes; p++) {
      if (DotBands[s][p]) {
        free(DotBands[s][p]->buffer);
        free(DotBands[s][p]);
        DotBands[s][p] = nullptr;
      }
    }
  }
  for (dot_band_t **list : {&DotUsedList, &DotAvailList}) {
    for (dot_band_t *band = *list, *next; band; band = next) {
      next = band->next;
      free(band->buffer);
      free(band);
    }
    *list = nullptr;
  }
  free(DotBuffers[0]);
  DotBuffers[0] = nullptr;
  cupsDitherDelete(DitherState);
  DitherState = nullptr;
  cupsLutDelete(DitherLut);
  DitherLut = nullptr;
  free(PixelBuffers[0]);
  PixelBuffers[0] = nullptr;
  free(CompBuffer);
  CompBuffer = nullptr;
}

// Reset the printer and, on large-format printers, restore its defaults.
static void Shutdown()
{
  putbytes(kReset, 2);
  if (!(JobFamily.flags & kDesk)) {
    EnterRemoteMode();
    WriteRemote("LD", {});
    LeaveRemoteMode();
  }
}

// Release the PPD and the raster stream of the job.
static void CloseJob()
{
  if (JobRaster) cupsRasterClose(JobRaster);
  if (JobFd > 0) close(JobFd);
  if (JobPpd) ppdClose(JobPpd);
  JobRaster = nullptr;
  JobFd = 0;
  JobPpd = nullptr;
}

// Read from the raster descriptor, noting its end.
static ssize_t ReadInput(RasterInput *input, unsigned char *buffer, size_t length)
{
  ssize_t got;
  do got = read(input->fd, buffer, length);
  while (got < 0 && errno == EINTR);
  if (got == 0) input->ended = true;
  if (got < 0) input->error = errno;
  return got;
}
// Read raster bytes for libcups, counting them so that an empty job can be
// told from a stream that is not raster data. Pages arrive in many small
// reads (a woven page reads each ink's row on its own), so small requests
// are served from a block read ahead. The last byte read is held back until
// a further read shows whether the data goes on: libcups reads compressed
// streams ahead, and a page header cut short must still be fetched while
// that header is read, or the cut would look like the end of the job.
static ssize_t ReadRaster(void *context, unsigned char *buffer, size_t length)
{
  RasterInput *input = (RasterInput *)context;
  if (input->start == input->end && !input->ended && length >= sizeof(input->ahead)) {
    ssize_t got = ReadInput(input, buffer, length);
    if (got < 0) return got;
    if (got > 0) {
      input->ahead[0] = buffer[got - 1];
      input->start = 0;
      input->end = 1;
      if (got > 1) {
        input->bytes += (size_t)got - 1;
        return got - 1;
      }
    }
  }
  while (input->end - input->start <= 1 && !input->ended) {
    if (input->start > 0) {
      memmove(input->ahead, input->ahead + input->start, input->end - input->start);
      input->end -= input->start;
      input->start = 0;
    }
    ssize_t got = ReadInput(input, input->ahead + input->end, sizeof(input->ahead) - input->end);
    if (got < 0) return got;
    input->end += (size_t)got;
  }
  size_t n = input->end - input->start - (input->ended ? 0 : 1);
  if (n > length) n = length;
  memcpy(buffer, input->ahead + input->start, n);
  input->start += n;
  input->bytes += n;
  return (ssize_t)n;
}

// Note that the job is cancelled; the band output acts on it.
[[maybe_unused]] static void CancelJob(int)
{
  Cancelled = 1;
}
