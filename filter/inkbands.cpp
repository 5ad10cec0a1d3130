// inkbands: CUPS raster to ESC/P2 raster graphics for Epson inkjet printers.
//
// Reads CUPS raster pages from standard input (or a file) and writes the
// printer's command stream to standard output: job and page commands, rows
// woven into print-head bands, error-diffusion dithered contone lines, 1-bit
// and 2-bit dots, PackBits compressed.

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
static const int Series6_720[] = {0, 180, 272, 400, 0, 135, 204, 300,
                                  0, 115, 173, 255};
static const int Series6_1440x720[] = {0, 270, 408, 600, 0, 203, 306, 450,
                                       0, 173, 260, 383};
static const int Series6_2880x720[] = {0, 360, 544, 800, 0, 270, 408, 600,
                                       0, 230, 346, 510};
static const int Series7_360[] = {0, 255, 0, 255, 0, 255};
static const int Series7_720[] = {0, 300, 0, 255, 0, 255};
static const int Series7_720x3[] = {0, 165, 300, 0, 140, 255, 0, 140, 255};
static const int Series7_1440x720[] = {0, 450, 0, 383, 0, 383};
static const int Series7_1440x720x3[] = {0, 248, 450, 0, 210, 383,
                                         0, 210, 383};
static const int SeriesCXX_360[] = {0, 127, 191, 255, 0, 127, 191, 255,
                                    0, 127, 191, 255};
static const int SeriesCXX_720[] = {0, 200, 300, 400, 0, 150, 225, 300,
                                    0, 140, 210, 280};
static const int SeriesCXX_1440x720[] = {0, 320, 480, 640, 0, 240, 360, 480,
                                         0, 224, 336, 448};
static const int SeriesCXX_2880x720[] = {0, 320, 480, 640, 0, 255, 360, 480,
                                         0, 255, 336, 448};
static const int SeriesC78_360[] = {0, 85, 170, 255, 0, 85, 170, 255,
                                    0, 85, 170, 255};
static const int SeriesC78_720[] = {0, 150, 300, 450, 0, 120, 240, 360,
                                    0, 100, 200, 300};
static const int SeriesC78_1440x720[] = {0, 200, 400, 600, 0, 160, 320, 480,
                                         0, 133, 267, 400};
static const int SeriesC78_2880x1440[] = {0, 450, 451, 452, 0, 360, 361, 362,
                                          0, 300, 301, 302};
static const int Series5000_360[] = {0, 255, 0, 255, 0, 255};
static const int Series5000_720[] = {0, 340, 0, 255, 0, 340};
static const int Series5000_1440x720[] = {0, 680, 0, 510, 0, 680};
static const int Series5500_720[] = {0, 300, 0, 255, 0, 255};
static const int Series5500_1440x720[] = {0, 248, 450, 0, 210, 383,
                                          0, 210, 383};
static const int Series9000_360[] = {0, 255, 0, 255, 0, 255};
static const int Series9000_720[] = {0, 283, 0, 255, 0, 255};
static const int Series9000_1440x720[] = {0, 567, 0, 510, 0, 510};
static const int Series10000_360[] = {0, 85, 170, 255, 0, 85, 170, 255,
                                      0, 85, 170, 255};
static const int Series10000_720[] = {0, 106, 213, 319, 0, 106, 213, 319,
                                      0, 106, 213, 319};
static const int Series10000_1440x720[] = {0, 212, 426, 638, 0, 212, 426, 638,
                                           0, 212, 426, 638};

// Printer colour code of each ink plane (black, cyan, magenta, yellow,
// light cyan, light magenta).
static const int ctable[kMaxPlanes] = {0x00, 0x02, 0x01, 0x04, 0x12, 0x11, 0x00};

// The MS command's codes for standard paper lengths (in points); other
// sizes go as a custom size in 1/360 inch.
static const struct { unsigned length; unsigned char code[2]; } kPaperCodes[] = {
  {516, {0x04, 0x01}},  {595, {0x03, 0x01}},  {612, {0x08, 0x01}},
  {729, {0x04, 0x00}},  {792, {0x08, 0x00}},  {842, {0x03, 0x00}},
  {1004, {0x0A, 0x00}}, {1032, {0x02, 0x00}}, {1191, {0x01, 0x00}},
  {1224, {0x2D, 0x00}}, {1369, {0x20, 0x00}},
};

// Largest memory a page may ask for: a 44 inch roll at 2880 dpi in six
// inks fits with room to spare; anything above is a broken header.
static const uint64_t kMaxPageMemory = 1024ull * 1024 * 1024;

// Largest resolution any ESC/P2 head prints.
static const unsigned kMaxResolution = 5760;

// Set once the raster stream could not deliver a line of the current page.
static bool RasterEnded;

// Set when the printing system cancels the job (SIGTERM, or SIGINT and
// SIGHUP by hand). The band output looks at it between commands: the
// command being written always goes out whole, nothing more of the page
// follows, and the page and the job are ended as a finished one is.
static volatile sig_atomic_t Cancelled;

// What the job holds open from start to end.
static ppd_file_t *JobPpd;
static cups_raster_t *JobRaster;
static int JobFd;

#ifdef INKBANDS_FUZZ
// The fuzzer runs many jobs in one process: the filter's exit returns there.
#include <csetjmp>
jmp_buf inkbands_exit;
[[noreturn]] static void Exit(int status) { longjmp(inkbands_exit, status + 1); }
#else
[[noreturn]] static void Exit(int status) { exit(status); }
#endif

// ---------------------------------------------------------------------------
// Small output helpers: bytes go out in the order the printer reads them.

static void put8(int value) { putchar(value & 255); }

static void put16(int value)
{
  putchar(value & 255);
  putchar((value >> 8) & 255);
}

static void put32(unsigned value)
{
  putchar(value & 255);
  putchar((value >> 8) & 255);
  putchar((value >> 16) & 255);
  putchar((value >> 24) & 255);
}

static void putbytes(const char *bytes, size_t length)
{
  fwrite(bytes, 1, length, stdout);
}

// Send the job end commands, report a job that cannot be printed and stop.
static void Shutdown(ppd_file_t *ppd);

[[noreturn]] static void Fatal(ppd_file_t *ppd, const char *format, ...)
  __attribute__((format(printf, 2, 3)));

static void FreePageBuffers();
static void CloseJob();

[[noreturn]] static void Fatal(ppd_file_t *ppd, const char *format, ...)
{
  va_list ap;
  va_start(ap, format);
  fputs("ERROR: ", stderr);
  vfprintf(stderr, format, ap);
  fputs("\n", stderr);
  va_end(ap);
  FreePageBuffers();
  if (ppd)
  {
    Shutdown(ppd);
    fflush(stdout);
  }
  CloseJob();
  Exit(1);
}

// Push buffered printer data out and stop the job when the printer
// connection or the output file is gone.
static void FlushOutput()
{
  if (fflush(stdout) != 0 || ferror(stdout))
    Fatal(nullptr, "Unable to send print data to the printer - %s",
          strerror(errno ? errno : EIO));
}

// Write a relative vertical feed; feeds beyond the 16-bit field go out
// in several commands so the paper still lands on the right row.
static void WriteVerticalFeed(int feed)
{
  while (feed > 65535)
  {
    putbytes("\033(v\002\000", 5);
    put16(65535);
    feed -= 65535;
  }
  putbytes("\033(v\002\000", 5);
  put16(feed);
}

// Enter the printer's remote mode, where media settings are sent.
static void EnterRemoteMode()
{
  putbytes("\033(R\010\000\000REMOTE1", 13);
}

// Leave remote mode and return to ESC/P2 commands.
static void LeaveRemoteMode()
{
  putbytes("\033\000\000\000", 4);
}

// ---------------------------------------------------------------------------
// Job start and end

// Take the printer out of packet mode and reset it.
static void Setup(ppd_file_t *ppd)
{
  if (ppd->model_number < 5000)
  {
    putbytes("\000\000\000\033\001", 5);
    putbytes("@EJL 1284.4\n", 12);
    putbytes("@EJL     \n", 10);
    putbytes("\033@", 2);
  }
}

// Reset the printer and, on large-format printers, restore its defaults.
static void Shutdown(ppd_file_t *ppd)
{
  putbytes("\033@", 2);
  if (ppd->model_number >= 5000)
  {
    EnterRemoteMode();
    putbytes("LD\000\000", 4);
    LeaveRemoteMode();
  }
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

// ---------------------------------------------------------------------------
// Page set-up

// Bits per printed dot: 2 where the printer prints variable dot sizes.
static int PageBitPlanes(ppd_file_t *ppd, const page_header_t *header)
{
  int model = ppd->model_number;
  if (model == 6 && header->HWResolution[1] >= 720)
    return 2;
  if (model == 5500 && header->HWResolution[0] == 1440)
    return 2;
  if (model != 5500 && header->cupsCompression >= 2)
    return 2;
  return 1;
}

// Media class for the dot-size table: 0 plain paper and film, 1 the
// special papers, 2 everything else.
static int PaperClass(const page_header_t *header)
{
  const char *media = header->MediaType;
  if (!strncmp(media, "Plain", 5) || !strcmp(media, "Transparency"))
    return 0;
  if (!strcmp(media, "Special") || !strncmp(media, "Comm", 4) ||
      !strcmp(media, "PublProof") || !strcmp(media, "Archival") ||
      !strcmp(media, "Watercolor") || !strcmp(media, "Matte"))
    return 1;
  return 2;
}

// Weave geometry from the header: rows per pass, vertical and horizontal
// interleave, feed. A vertical interleave of 0 is taken as 1, and a head
// pass shorter than its interleave cannot weave, so the printer gets the
// page unwoven.
static void PageWeave(const page_header_t *header)
{
  if (header->cupsRowCount <= 1)
  {
    DotRowMax = DotColStep = DotRowStep = DotRowFeed = 1;
    return;
  }
  DotRowMax = header->cupsRowCount > INT_MAX ? INT_MAX : (int)header->cupsRowCount;
  DotRowFeed = (int)header->cupsRowFeed;
  DotRowStep = (int)(header->cupsRowStep % 100);
  unsigned cols = header->cupsRowStep / 100;
  DotColStep = cols == 0 ? 1 : (cols > INT_MAX ? INT_MAX : (int)cols);
  if (DotRowStep == 0)
    DotRowStep = 1;
  if (DotRowMax / DotRowStep == 0)
    DotRowMax = DotColStep = DotRowStep = DotRowFeed = 1;
}

// Ink planes the colour space asks for.
static int PagePlanes(const page_header_t *header)
{
  switch (FieldValue(header->cupsColorSpace))
  {
    case CUPS_CSPACE_K: return 1;
    case CUPS_CSPACE_KCMY: return 4;
    case CUPS_CSPACE_KCMYcm: return 6;
    default: return 3;
  }
}

// Top of the printable area in rows, from the PPD's second page size;
// offset heads start lower, so their top moves up by the head offset.
static int PageTop(ppd_file_t *ppd, const page_header_t *header)
{
  int top = 0;
  if (ppd->num_sizes >= 2)
  {
    double rows = ((double)ppd->sizes[1].length - ppd->sizes[1].top) *
                  header->HWResolution[1] / 72.0;
    if (rows > INT_MAX)
      rows = INT_MAX;
    if (rows < INT_MIN)
      rows = INT_MIN;
    top = (int)rows;
  }
  // The head offsets are formed in 64 bits: a broken header's nozzle count
  // (up to 2^31) must not overflow on its way to the check that refuses it.
  if (ppd->model_number == 9)
  {
    long long even = DotRowMax / DotRowStep;
    if (even & 1)
      even++;
    long long moved = top - 2 * even * DotRowStep;
    top = moved < 0 ? 0 : (int)moved;
  }
  else if (ppd->model_number == 11)
  {
    long long moved = top - 2LL * DotRowMax;
    top = moved < 0 ? 0 : (int)moved;
  }
  return top;
}

// Derive the page's printer parameters from its header and the PPD.
static void PageParameters(ppd_file_t *ppd, const page_header_t *header)
{
  BitPlanes = PageBitPlanes(ppd, header);
  PageWeave(header);
  PrinterPlanes = PagePlanes(header);
  PrinterLength = (int)((uint64_t)header->PageSize[1] * header->HWResolution[1] / 72);
  PrinterTop = PageTop(ppd, header);
  OutputFeed = 0;
  HorizontalDpi = (int)header->HWResolution[0];
}

// Rows in a full band once the page's head layout is taken into account,
// and the vertical interleave the bands then use.
static void BandGeometry(ppd_file_t *ppd, int *rowcount, int *rowstep)
{
  *rowstep = DotRowStep;
  *rowcount = DotRowMax / DotRowStep;
  if (DotRowMax <= 1)
    return;
  // Grey pages use three heads' worth of rows; a count beyond an int
  // saturates (CheckPage refuses it), it must not overflow.
  auto triple = [](long long rows) { return (int)(3 * rows > INT_MAX ? INT_MAX : 3 * rows); };
  if (ppd->model_number == 9 && PrinterPlanes == 1)
    *rowcount = triple((*rowcount + 1LL) & ~1LL);
  else if (ppd->model_number == 11 && PrinterPlanes == 1)
    *rowcount = triple(*rowcount);
  else if (ppd->model_number == 10 && PrinterPlanes == 1)
  {
    *rowcount = triple(*rowcount);
    *rowstep = DotRowStep / 3;
    // Fewer than three nozzle rows between dots cannot be split three ways;
    // the head then steps one row at a time.
    if (*rowstep < 1)
      *rowstep = 1;
  }
}

// Refuse a page that cannot be printed right, before any of its bytes is
// sent. Returns an error text, or null when the page can be printed.
static const char *CheckPage(ppd_file_t *ppd, const page_header_t *header,
                             char *text, size_t size)
{
  unsigned xdpi = header->HWResolution[0], ydpi = header->HWResolution[1];
  if (xdpi == 0 || ydpi == 0 || xdpi > kMaxResolution || ydpi > kMaxResolution)
  {
    snprintf(text, size, "unsupported resolution %ux%u dpi.", xdpi, ydpi);
    return text;
  }
  if (header->cupsBitsPerColor != 1 && header->cupsBitsPerColor != 8)
  {
    snprintf(text, size, "%u bits per colour are not supported (1 or 8).",
             header->cupsBitsPerColor);
    return text;
  }
  if (header->cupsWidth == 0)
  {
    snprintf(text, size, "the page is 0 pixels wide.");
    return text;
  }

  PageParameters(ppd, header);
  if (PrinterPlanes > 1 && FieldValue(header->cupsColorOrder) != CUPS_ORDER_BANDED)
  {
    snprintf(text, size, "colour order %u is not supported (banded only).",
             FieldValue(header->cupsColorOrder));
    return text;
  }

  uint64_t slots = (uint64_t)DotRowStep * (uint64_t)DotColStep;
  if (DotRowMax > 1 && slots > kBandSlots)
  {
    snprintf(text, size, "an interleave of %d columns by %d rows needs more "
             "than %d head passes.", DotColStep, DotRowStep, kBandSlots);
    return text;
  }

  int rowcount, rowstep;
  BandGeometry(ppd, &rowcount, &rowstep);
  uint64_t width = header->cupsWidth;
  uint64_t rowbytes = (width / (unsigned)DotColStep * (unsigned)BitPlanes + 7) / 8;

  // The raster line must hold each plane's row where the band engine
  // looks for it.
  uint64_t line = header->cupsBytesPerLine;
  if (header->cupsBitsPerColor == 1)
  {
    // One-bit dots read as two-bit dots would print a squeezed, garbled
    // page.
    if (BitPlanes > 1)
    {
      snprintf(text, size, "pre-dithered 1-bit pages cannot be printed with "
               "2-bit dots (cupsCompression %u at %ux%u dpi).",
               header->cupsCompression, xdpi, ydpi);
      return text;
    }
    if (line != (uint64_t)PrinterPlanes * rowbytes)
    {
      snprintf(text, size, "%u bytes per line do not match %d inks of %llu "
               "bytes of pre-dithered dots each.", header->cupsBytesPerLine,
               PrinterPlanes, (unsigned long long)rowbytes);
      return text;
    }
  }
  else if (line != (uint64_t)PrinterPlanes * width &&
           !(PrinterPlanes == 6 && line == 4 * width))
  {
    snprintf(text, size, "%u bytes per line do not match %u pixels of %d "
             "inks.", header->cupsBytesPerLine, header->cupsWidth,
             PrinterPlanes);
    return text;
  }

  // Every count must fit the field of the command that carries it.
  int model = ppd->model_number;
  bool escape_i = (model >= 6 && model <= 11) || model > 5499;
  unsigned hunit = (unsigned)DotColStep * 3600 / xdpi;
  unsigned vunit = (unsigned)rowstep * 3600 / ydpi;
  if (escape_i && (rowbytes > 65535 || rowcount > 65535))
  {
    snprintf(text, size, "bands of %d rows of %llu bytes are too large for "
             "the printer.", rowcount, (unsigned long long)rowbytes);
    return text;
  }
  if (!escape_i && (rowbytes * 8 > 65535 || rowcount > 255 || hunit > 255 ||
                    vunit > 255))
  {
    snprintf(text, size, "bands of %d rows of %llu dots are too large for "
             "the printer.", rowcount, (unsigned long long)rowbytes * 8);
    return text;
  }
  unsigned base = 0;
  if (model >= 8 && model <= 11)
    base = xdpi > 1440 || ydpi > 1440 ? 2880 : 1440;
  else if (model == 6 || model == 7 || model == 9000 || model == 9600 ||
           model == 10000 || model == 5500)
    base = 14400;
  if (base && ((uint64_t)(base / ydpi) * rowstep > 255 ||
               (uint64_t)(base / xdpi) * DotColStep > 255))
  {
    snprintf(text, size, "an interleave of %d columns by %d rows at %ux%u "
             "dpi does not fit the printer's raster unit.", DotColStep,
             rowstep, xdpi, ydpi);
    return text;
  }

  // The unit commands count in whole fractions of an inch: a resolution
  // they cannot express would space the dots wrongly (a unit of 0, or
  // 1440 dpi dots 1/1800 inch apart on an ESC . printer).
  unsigned page_base = model <= 5 ? 3600 : xdpi == 2880 ? 2880 : 1440;
  unsigned unit = 0;  // the unit that cannot space the dots
  if (page_base % ydpi || page_base / ydpi > 255 ||
      (model > 5 && (page_base % xdpi || page_base / xdpi > 255)))
    unit = page_base;
  else if (base && (base % ydpi || base % xdpi))
    unit = base;
  else if (!escape_i && ((unsigned)DotColStep * 3600 % xdpi || (unsigned)rowstep * 3600 % ydpi))
    unit = 3600;
  if (unit)
  {
    snprintf(text, size, "%ux%u dpi in %d interleave columns cannot be expressed in "
             "the printer's units of 1/%u inch.", xdpi, ydpi, DotColStep, unit);
    return text;
  }
  if (!escape_i && BitPlanes > 1)
  {
    snprintf(text, size, "family %d prints 1-bit dots only; 2-bit dots "
             "(cupsCompression %u) cannot be sent to it.", model,
             header->cupsCompression);
    return text;
  }
  if (model == 9 && PrinterPlanes == 6)
  {
    snprintf(text, size, "family 9 printers have no light inks; six-ink pages "
             "cannot be printed on them.");
    return text;
  }

  // The page set-up commands carry the page length and the top margin in
  // 16 bits (32 on family 10000 and in the paper size command).
  uint64_t length = (uint64_t)header->PageSize[1] * ydpi / 72;
  uint64_t width_rows = (uint64_t)header->PageSize[0] * ydpi / 72;
  uint64_t bottom = (uint64_t)(unsigned)PrinterTop + header->cupsHeight;
  if (PrinterTop > 65535)
  {
    snprintf(text, size, "a top margin of %d rows at %u dpi (from the PPD's page "
             "sizes) is more than the printer's commands carry (65535).",
             PrinterTop, ydpi);
    return text;
  }
  uint64_t most = model == 10000 ? UINT32_MAX : 65535;
  bool coded = false;
  for (const auto &paper : kPaperCodes)
    coded = coded || paper.length == header->PageSize[1];
  // The MS command's custom size counts 1/360 inch in 16 bits.
  if ((model == 5000 || model == 5500) && !coded &&
      ((uint64_t)header->PageSize[0] * 5 > 65535 ||
       (uint64_t)header->PageSize[1] * 5 > 65535))
  {
    snprintf(text, size, "a custom page of %u x %u points is more than the printer's "
             "paper size command carries (13107 points).", header->PageSize[0],
             header->PageSize[1]);
    return text;
  }
  if ((model == 10000 ? bottom : length) > most || length > UINT32_MAX ||
      width_rows > UINT32_MAX)
  {
    snprintf(text, size, "a page of %u x %u points at %u dpi is more than the "
             "printer's page commands carry (%llu rows).", header->PageSize[0],
             header->PageSize[1], ydpi, (unsigned long long)most);
    return text;
  }

  // Memory the page needs, refused before anything is allocated.
  uint64_t memory = 0;
  if (header->cupsBitsPerColor > 1)
    memory += width * (uint64_t)PrinterPlanes * 9 + 16 * 256;
  uint64_t band = (uint64_t)rowcount * rowbytes;
  if (DotRowMax > 1)
    memory += 4 * slots * (uint64_t)PrinterPlanes * (band + sizeof(dot_band_t));
  else
    memory += (uint64_t)PrinterPlanes * rowbytes;
  if (header->cupsCompression)
    memory += 5 * (band ? band : 1);
  if (memory > kMaxPageMemory)
  {
    snprintf(text, size, "the page would need %llu MB of memory (%u pixels "
             "wide, %d rows per pass).",
             (unsigned long long)(memory >> 20), header->cupsWidth, DotRowMax);
    return text;
  }
  return nullptr;
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
  fprintf(stderr, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n",
          header->ImagingBoundingBox[0], header->ImagingBoundingBox[1],
          header->ImagingBoundingBox[2], header->ImagingBoundingBox[3]);
  fprintf(stderr, "DEBUG: InsertSheet = %d\n", (int)FieldValue(header->InsertSheet));
  fprintf(stderr, "DEBUG: Jog = %d\n", (int)FieldValue(header->Jog));
  fprintf(stderr, "DEBUG: LeadingEdge = %d\n", (int)FieldValue(header->LeadingEdge));
  fprintf(stderr, "DEBUG: Margins = [ %d %d ]\n", header->Margins[0],
          header->Margins[1]);
  fprintf(stderr, "DEBUG: ManualFeed = %d\n", (int)FieldValue(header->ManualFeed));
  fprintf(stderr, "DEBUG: MediaPosition = %d\n", header->MediaPosition);
  fprintf(stderr, "DEBUG: MediaWeight = %d\n", header->MediaWeight);
  fprintf(stderr, "DEBUG: MirrorPrint = %d\n", (int)FieldValue(header->MirrorPrint));
  fprintf(stderr, "DEBUG: NegativePrint = %d\n", (int)FieldValue(header->NegativePrint));
  fprintf(stderr, "DEBUG: NumCopies = %d\n", header->NumCopies);
  fprintf(stderr, "DEBUG: Orientation = %d\n", (int)FieldValue(header->Orientation));
  fprintf(stderr, "DEBUG: OutputFaceUp = %d\n", (int)FieldValue(header->OutputFaceUp));
  fprintf(stderr, "DEBUG: PageSize = [ %d %d ]\n", header->PageSize[0],
          header->PageSize[1]);
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

// The MS size bytes: the printer's code for a standard paper length, or a
// custom size in 1/360 inch.
static void WritePaperSize(const page_header_t *header)
{
  for (const auto &size : kPaperCodes)
  {
    if (header->PageSize[1] == size.length)
    {
      put8(size.code[0]);
      put8(size.code[1]);
      put32(0);
      return;
    }
  }
  put8(0xFF);
  put8(0xFF);
  put16((int)(header->PageSize[0] * 5));
  put16((int)(header->PageSize[1] * 5));
}

// Remote-mode block: the page's media type, source, size and cutter.
static void WriteRemoteSettings(ppd_file_t *ppd, const page_header_t *header)
{
  int model = ppd->model_number;
  unsigned media = header->cupsMediaType;
  EnterRemoteMode();
  putbytes("ST\002\000\000\000", 6);
  if (media)
  {
    int nibble0 = media & 15, nibble1 = (media >> 4) & 15;
    int nibble2 = (media >> 8) & 15, nibble3 = (media >> 12) & 15;
    if (nibble0)
    {
      putbytes("SN\003\000\000\000", 6);
      put8(nibble0);
    }
    putbytes("SN\003\000\000\001", 6);
    put8(nibble1 == 15 ? 0xF0 : nibble1);
    if (model == 5500)
    {
      bool fine = header->HWResolution[0] == 1440;
      putbytes("SN\003\000\000\002", 6);
      put8(fine ? 2 : 0);
      putbytes("SN\003\000\000\006", 6);
      put8(fine ? 1 : 0);
    }
    if (header->MediaPosition)
    {
      if (model >= 5000)
      {
        putbytes("PC\002\000\000\000", 6);
        putbytes("PP\003\000\000", 5);
        put8(header->MediaPosition >> 4);
        put8(header->MediaPosition & 15);
      }
      else
      {
        putbytes("EX\006\000\000\000\000\000\005", 9);
        put8(header->MediaPosition);
      }
    }
    if (nibble2)
    {
      putbytes("MT\003\000\000\000", 6);
      put8(nibble2);
    }
    if (nibble3)
    {
      putbytes("PH\002\000\000", 5);
      put8(nibble3);
    }
  }
  if (model == 5000 || model == 5500)
  {
    putbytes("MS\010\000\000", 5);
    put8(header->MediaPosition > 47 ? 1 : 0);
    WritePaperSize(header);
  }
  if (model >= 9000)
  {
    putbytes("AC\002\000\000", 5);
    put8(FieldValue(header->CutMedia) ? 1 : 0);
  }
  LeaveRemoteMode();
}

// The ESC/P2 set-up of the page: reset, media settings, graphics mode,
// units, paper size, page format, start position, direction, microweave.
static void WritePageStart(ppd_file_t *ppd, const page_header_t *header)
{
  int model = ppd->model_number;
  unsigned xdpi = header->HWResolution[0], ydpi = header->HWResolution[1];

  putbytes("\033@", 2);
  if (model >= 4)
    WriteRemoteSettings(ppd, header);

  putbytes("\033(G\001\000\001", 6);

  if (model <= 5)
  {
    putbytes("\033(U\001\000", 5);
    put8(3600 / ydpi);
  }
  else
  {
    unsigned base = xdpi == 2880 ? 2880 : 1440;
    putbytes("\033(U\005\000", 5);
    put8(base / ydpi);
    put8(base / ydpi);
    put8(base / xdpi);
    put16(base);
  }

  if (model == 6 || model == 10000 ||
      (ppd->num_sizes > 0 && ppd->sizes[0].bottom < 36.0f))
  {
    putbytes("\033(S\010\000", 5);
    put32((unsigned)((uint64_t)header->PageSize[0] * ydpi / 72));
    put32((unsigned)((uint64_t)header->PageSize[1] * ydpi / 72));
  }
  else
  {
    putbytes("\033(C\002\000", 5);
    put16(PrinterLength);
  }

  if (model == 10000)
  {
    putbytes("\033(c\010\000", 5);
    put32((unsigned)PrinterTop);
    put32((unsigned)PrinterTop + header->cupsHeight);
  }
  else
  {
    putbytes("\033(c\004\000", 5);
    put16(PrinterTop);
    put16(PrinterLength);
  }

  putbytes("\033(V\002\000", 5);
  put16(PrinterTop);

  int direction = 0;
  if (header->cupsBitsPerColor == 8 && model <= 8999 && xdpi <= 720)
    direction = 1;
  else if (model == 10000)
    direction = 2;
  else if (!strcmp(header->MediaType, "Plain"))
    direction = 1;
  putbytes("\033U", 2);
  put8(direction);

  if (model >= 5000)
  {
    putchar(0x1B);
    for (int i = 0; i < 27; i++)
      putchar(0);
  }

  int weave;
  if (DotRowMax != 1)
    weave = 0;  // the filter weaves the rows itself
  else if (xdpi >= 1440)
    weave = 3;
  else if (BitPlanes == 1 || xdpi < 720 || ydpi < 720 || model == 5500)
    weave = 1;
  else
    weave = 2;
  putbytes("\033(i\001\000", 5);
  put8(weave);
}

// Choose the family's dot-size row for the resolution and media.
static const int *DotSizeRow(ppd_file_t *ppd, const page_header_t *header,
                             int paper_class, int *values)
{
  const int *table = Series1_360;
  int n = 2;
  unsigned x = header->HWResolution[0], y = header->HWResolution[1];
  bool levels3 = header->cupsCompression > 1;

  switch (ppd->model_number)
  {
    case 1:
      if (x == 360) table = Series1_360;
      else if (x == 720) table = Series1_720;
      break;
    case 2:
      if (x == 360) table = y == 720 ? Series2_360x720 : Series2_360;
      else if (x == 720) table = Series2_720;
      break;
    case 3:
      if (x == 360) table = y == 720 ? Series3_360x720 : Series3_360;
      else if (x == 720) table = Series3_720;
      break;
    case 4:
      if (x == 360) table = Series4_360;
      else if (x == 720) table = Series4_720;
      else if (x == 1440) table = Series4_1440x720;
      break;
    case 5:
      if (x == 360) table = Series5_360;
      else if (x == 720) table = Series5_720;
      else if (x == 1440) table = Series5_1440x720;
      break;
    case 6:
      if (x == 360) table = Series6_360;
      else if (x == 720) table = Series6_720, n = 4;
      else if (x == 1440) table = Series6_1440x720, n = 4;
      else if (x == 2880) table = Series6_2880x720, n = 4;
      break;
    case 7:
      if (x == 360) table = Series7_360;
      else if (x == 720)
      {
        if (levels3) table = Series7_720x3, n = 3;
        else table = Series7_720;
      }
      else if (x == 1440)
      {
        if (levels3) table = Series7_1440x720x3, n = 3;
        else table = Series7_1440x720;
      }
      break;
    case 8:
    case 9:
    case 10:
      if (x == 360) table = SeriesCXX_360, n = 4;
      else if (x == 720) table = SeriesCXX_720, n = 4;
      else if (x == 1440) table = SeriesCXX_1440x720, n = 4;
      else if (x == 2880) table = SeriesCXX_2880x720, n = 4;
      break;
    case 11:
      if (x == 360) table = SeriesC78_360, n = 4;
      else if (x == 720) table = SeriesC78_720, n = 4;
      else if (x == 1440) table = SeriesC78_1440x720, n = 4;
      else if (x == 2880) table = SeriesC78_2880x1440, n = 4;
      break;
    case 5000:
    case 5500:
      if (x == 360) table = Series5000_360;
      else if (x == 720)
      {
        if (BitPlanes == 1) table = Series5000_720;
        else table = Series5500_720;
      }
      else if (x == 1440)
      {
        if (BitPlanes == 1) table = Series5000_1440x720;
        else table = Series5500_1440x720, n = 3;
      }
      break;
    case 9000:
      if (x == 360) table = Series9000_360;
      else if (x == 720) table = Series9000_720;
      else if (x == 1440) table = Series9000_1440x720;
      break;
    case 9600:
    case 10000:
      if (x == 360) table = Series10000_360, n = 4;
      else if (x == 720) table = Series10000_720, n = 4;
      else if (x == 1440) table = Series10000_1440x720, n = 4;
      break;
  }
  *values = n;
  return table + n * paper_class;
}

static void QueueSetup(const page_header_t *header);
static void StopDitherThreads();

// Prepare the dither of a contone page: pixel rows, error state, dot table,
// black generation and the light-ink split.
static void ColourSetup(ppd_file_t *ppd, const page_header_t *header,
                        const int *row, int row_values)
{
  int model = ppd->model_number;
  size_t width = header->cupsWidth;

  // The block holds a whole line of every plane, light rows included even
  // when the raster line carries only K, C, M and Y.
  PixelBuffers[0] = (unsigned char *)calloc(width, PrinterPlanes);
  DitherState = cupsDitherNew((int)width, PrinterPlanes);

  int levels = (model == 7 || model == 5500) ? BitPlanes + 1 : 1 << BitPlanes;
  // A row lists only the dot sizes the printer has at this resolution;
  // more levels than values would dither into sizes nobody measured.
  if (levels > row_values)
    levels = row_values;
  DitherLut = cupsLutNew(row, levels, 255);
  if (!PixelBuffers[0] || !DitherState || !DitherLut)
    Fatal(ppd, "Unable to allocate memory for the dither of a %u pixel line.",
          header->cupsWidth);
  for (int p = 1; p < PrinterPlanes; p++)
    PixelBuffers[p] = PixelBuffers[0] + p * width;

  fprintf(stderr, "DEBUG: dither = %p [%d %d %d]\n", (const void *)row, row[0],
          row[1], row_values > 2 ? row[2] : 0);
  fputs("DEBUG: DitherLut =\n", stderr);
  for (int i = 0; i < 256; i++)
  {
    if ((i & 7) == 0)
      fputs("DEBUG:", stderr);
    fprintf(stderr, " [%d %d]", DitherLut[i].pixel, DitherLut[i].error);
    if ((i & 7) == 7)
      fputs("\n", stderr);
  }

  int start;
  if (model > 6)
    start = 60 / BitPlanes + 17;
  else if (FieldValue(header->cupsColorSpace) == CUPS_CSPACE_KCMYcm)
    start = 102 / BitPlanes + 26;
  else
    start = 63 / BitPlanes;
  if (!strcmp(header->MediaType, "Plain"))
    cupsDitherSetBlackGeneration(start / 4, 127);
  else if (!strcmp(header->MediaType, "Archival") ||
           !strcmp(header->MediaType, "Watercolor"))
    cupsDitherSetBlackGeneration(start / 4, 153);
  else
    cupsDitherSetBlackGeneration(start, 255);

  if (PrinterPlanes == 6)
  {
    unsigned x = header->HWResolution[0];
    float cyan, magenta;
    // 2880 dpi dots are as small as 1440 dpi ones: give them the same split,
    // so such pages print their cyan and magenta.
    if (x == 360)
      cyan = model == 10000 ? 0.035f : 0.07f, magenta = model == 10000 ? 0.0175f : 0.07f;
    else if (x == 720)
      cyan = model == 10000 ? 0.21f : 0.42f, magenta = model == 10000 ? 0.105f : 0.42f;
    else
      cyan = model == 10000 ? 0.145f : 0.29f, magenta = model == 10000 ? 0.0725f : 0.29f;
    cupsDitherSetLightCyan(cyan);
    cupsDitherSetLightMagenta(magenta);
  }
  QueueSetup(header);
}

// Build the page's band pool (woven pages) or row block (unwoven pages)
// and the compression buffer.
static void BandSetup(ppd_file_t *ppd, const page_header_t *header)
{
  int model = ppd->model_number;

  DotRowCurrent = 0;
  DotRowCount = DotRowMax / DotRowStep;
  DotBufferSize = (int)((header->cupsWidth / (unsigned)DotColStep * (unsigned)BitPlanes + 7) / 8);

  fprintf(stderr, "DEBUG: DotBufferSize = %d\n", DotBufferSize);
  fprintf(stderr, "DEBUG: DotColStep = %d\n", DotColStep);
  fprintf(stderr, "DEBUG: DotRowMax = %d\n", DotRowMax);
  fprintf(stderr, "DEBUG: DotRowStep = %d\n", DotRowStep);
  fprintf(stderr, "DEBUG: DotRowFeed = %d\n", DotRowFeed);
  fprintf(stderr, "DEBUG: DotRowCount = %d\n", DotRowCount);

  DotAvailList = nullptr;
  DotUsedList = nullptr;
  DotBuffers[0] = nullptr;

  fprintf(stderr, "DEBUG: model_number = %d\n", model);

  if (DotRowMax > 1)
  {
    int pool = 4 * DotRowStep * DotColStep * PrinterPlanes;

    if (model == 9)
    {
      fputs("DEBUG: Offset head detected...\n", stderr);
      int even = (DotRowCount + 1) & ~1;
      if (PrinterPlanes == 1)
      {
        DotRowOffset[0] = 0;
        DotRowCount = 3 * even;
        fprintf(stderr, "DEBUG: Updated DotRowCount=%d for grayscale output...\n",
                DotRowCount);
      }
      else
      {
        DotRowOffset[0] = even * DotRowStep;
        for (int p = 1; p < PrinterPlanes; p++)
          DotRowOffset[p] = (3 - p) * DotRowOffset[0];
      }
    }
    else if (model == 11)
    {
      fputs("DEBUG: Offset head detected...\n", stderr);
      if (PrinterPlanes == 1)
      {
        DotRowOffset[0] = 0;
        DotRowCount = 3 * DotRowCount;
        fprintf(stderr, "DEBUG: Updated DotRowCount=%d for grayscale output...\n",
                DotRowCount);
      }
      else
      {
        DotRowOffset[0] = 0;
        for (int p = 1; p < PrinterPlanes; p++)
          DotRowOffset[p] = (p - 1) * DotRowMax;
      }
    }
    else
    {
      for (int p = 0; p < kMaxPlanes; p++)
        DotRowOffset[p] = 0;
      if (model == 10 && PrinterPlanes == 1)
      {
        DotRowCount = 3 * DotRowCount;
        DotRowStep = DotRowStep / 3;
        if (DotRowStep < 1)
          DotRowStep = 1;
      }
    }

    for (int p = 0; p < PrinterPlanes; p++)
      fprintf(stderr, "DEBUG: DotRowOffset[%d] = %d\n", p, DotRowOffset[p]);

    size_t band_bytes = (size_t)DotRowCount * (size_t)DotBufferSize;
    for (int i = 0; i < pool; i++)
    {
      dot_band_t *band = (dot_band_t *)calloc(1, sizeof(dot_band_t));
      if (!band)
        Fatal(ppd, "Unable to allocate memory for %d print bands.", pool);
      band->next = DotAvailList;
      DotAvailList = band;
      band->buffer = (unsigned char *)calloc(band_bytes ? band_bytes : 1, 1);
      if (!band->buffer)
        Fatal(ppd, "Unable to allocate memory for %d print bands of %d rows.",
              pool, DotRowCount);
    }

    fputs("Pointer list at start of page...\n", stderr);
    for (dot_band_t *band = DotAvailList; band; band = band->next)
      fprintf(stderr, "%p\n", (void *)band);
    fputs("----END----\n", stderr);

    int slots = DotColStep * DotRowStep;
    DotRowFeed = DotRowMax / DotColStep / DotRowStep;
    if ((DotRowFeed & 1) == (DotRowCount & 1))
      DotRowFeed--;
    if (DotRowFeed <= 0)
      DotRowFeed = 1;

    // The feed visits every slot when it shares no factor with the slot
    // count; otherwise each step takes the next slot still empty, so that
    // every slot gets its band and every row of the page is printed.
    bool placed[kBandSlots] = {};
    int next = slots - 1;
    int pos = DotRowFeed;
    for (int i = 0; i < slots; i++)
    {
      int slot = next;
      while (placed[slot])
        slot = (slot + 1) % slots;
      placed[slot] = true;
      for (int p = 0; p < PrinterPlanes; p++)
      {
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
        fprintf(stderr, "DEBUG: DotBands[%d][%d] = %p, x = %d, y = %d, "
                "plane = %d, count = %d\n", slot, p, (void *)band, band->x,
                band->y, band->plane, band->count);
      }
      next = (int)(((long long)next + DotRowFeed) % slots);
      pos += DotRowFeed;
    }
  }
  else
  {
    DotBuffers[0] = (unsigned char *)calloc((size_t)PrinterPlanes * DotBufferSize + 1, 1);
    if (!DotBuffers[0])
      Fatal(ppd, "Unable to allocate memory for a line of %d bytes.",
            PrinterPlanes * DotBufferSize);
    for (int p = 1; p < PrinterPlanes; p++)
      DotBuffers[p] = DotBuffers[0] + p * DotBufferSize;
  }

  if (header->cupsCompression)
  {
    size_t size = 5 * (size_t)DotRowCount * (size_t)DotBufferSize;
    CompBuffer = (unsigned char *)malloc(size ? size : 1);
    if (!CompBuffer)
      Fatal(ppd, "Unable to allocate memory for compressing bands of %d rows.",
            DotRowCount);
  }
}

// Select mono or colour printing, the raster unit and the dot size.
static void WriteDotSize(ppd_file_t *ppd, const page_header_t *header,
                         int paper_class)
{
  int model = ppd->model_number;
  unsigned x = header->HWResolution[0], y = header->HWResolution[1];
  const char *media = header->MediaType;
  bool plain = !strcmp(media, "Plain"), film = !strcmp(media, "Transparency");
  int dot = -1;

  auto mono_colour = [] {
    putbytes("\033(K\002\000\000", 6);
    put8(PrinterPlanes == 1 ? 1 : 2);
  };
  auto raster_unit = [&](unsigned base) {
    // A 1/1440 inch base cannot space 2880 dpi dots (it would send a unit
    // of 0); such pages count in 1/2880 inch.
    if (base == 1440 && (x > 1440 || y > 1440))
      base = 2880;
    putbytes("\033(D\004\000", 5);
    put16((int)base);
    put8((int)(base / y * (unsigned)DotRowStep));
    put8((int)(base / x * (unsigned)DotColStep));
  };

  switch (model)
  {
    case 2:
    case 3:
      if (y == 720)
        dot = 0x01;
      break;
    case 4:
      mono_colour();
      if (x == 360)
        dot = film ? 0x03 : 0x02;
      else if (x == 720)
        dot = plain || film ? 0x01 : 0x02;
      else if (x == 1440)
      {
        putbytes("\033(s\001\000\002", 6);
        dot = 0x01;
      }
      break;
    case 5:
      if (x == 360)
        dot = film ? 0x03 : 0x02;
      else if (x == 720)
        dot = plain || film ? 0x01 : 0x02;
      else if (x == 1440)
        dot = !strcmp(media, "Special") ? 0x01 : 0x04;
      break;
    case 6:
    case 7:
    case 9000:
    case 9600:
    case 10000:
      raster_unit(14400);
      if (x == 360)
        dot = BitPlanes > 1 ? 0x10 : film ? 0x03 : 0x02;
      else if (x == 720)
        dot = BitPlanes > 1 ? 0x10 : plain || film ? 0x01 : 0x02;
      else if (x == 1440)
        dot = BitPlanes > 1 ? 0x10 : plain ? 0x04 : 0x01;
      else if (x == 2880)
        dot = 0x12;
      break;
    case 8:
      mono_colour();
      raster_unit(1440);
      if (x == 360)
        dot = 0x12;
      else if (x == 720 || x == 1440)
        dot = plain || film ? 0x13 : 0x11;
      else if (x == 2880)
        dot = 0x10;
      break;
    case 9:
      mono_colour();
      raster_unit(1440);
      dot = x == 360 ? 0x13 : 0x10;
      break;
    case 10:
      mono_colour();
      raster_unit(1440);
      if (x == 360)
        dot = 0x12;
      else if (x == 720 || x == 1440)
        dot = 0x11;
      else if (x == 2880)
        dot = 0x10;
      break;
    case 11:
      mono_colour();
      raster_unit(1440);
      if (x == 360)
        dot = 0x12;
      else if (x == 720 || x == 1440)
        dot = plain || film ? 0x14 : 0x11;
      else if (x == 2880)
        dot = 0x10;
      break;
    case 5000:
      if (x == 360)
        DotSize = 2;
      else if (x == 720)
        DotSize = paper_class == 0 ? 1 : 2;
      else if (x == 1440)
        DotSize = paper_class == 0 ? 4 : 1;
      break;
    case 5500:
      raster_unit(14400);
      if (BitPlanes > 1)
        dot = 0x10;
      break;
  }

  if (dot >= 0)
  {
    putbytes("\033(e\002\000\000", 6);
    put8(dot);
  }
}

// Prepare the printer and the filter for one page.
static void StartPage(ppd_file_t *ppd, const page_header_t *header)
{
  DumpHeader(header);
  PageParameters(ppd, header);
  fprintf(stderr, "DEBUG: BitPlanes = %d\n", BitPlanes);
  int paper_class = PaperClass(header);

  // Everything that needs memory is set up before the page's first byte
  // goes out, so a page that cannot be had is refused cleanly.
  int row_values;
  const int *row = DotSizeRow(ppd, header, paper_class, &row_values);
  if (header->cupsBitsPerColor > 1)
    ColourSetup(ppd, header, row, row_values);
  BandSetup(ppd, header);

  WritePageStart(ppd, header);
  WriteDotSize(ppd, header, paper_class);
}

// ---------------------------------------------------------------------------
// Band engine

// Queue a full band with ink in print order: by row, then column, then plane.
static void AddBand(dot_band_t *band)
{
  if (band->count <= 0)
    return;

  dot_band_t *last = nullptr, *current = DotUsedList;
  for (; current; last = current, current = current->next)
  {
    if (band->y < current->y ||
        (band->y == current->y && band->x < current->x) ||
        (band->y == current->y && band->x == current->x &&
         band->plane < current->plane))
      break;
  }

  band->prev = last;
  band->next = current;
  if (current)
    current->prev = band;
  if (last)
    last->next = band;
  else
    DotUsedList = band;
}

// Send one block of packed rows of one plane as a raster command:
// carriage return, column offset, colour, then ESC i or ESC . with the rows,
// PackBits-compressed when that is shorter.
static void CompressData(ppd_file_t *ppd, const unsigned char *data, int length,
                         int plane, int compress, int rows, int hunit,
                         int vunit, int offset)
{
  int model = ppd->model_number;
  if (PrinterPlanes == 3)
    plane++;

  const unsigned char *send = data;
  int send_length = length;
  int compressed = 0;
  if (compress && length > 0)
  {
    // PackBits. Runs are measured many bytes at a time: the first byte
    // that breaks a run is the lowest set flag of a comparison.
    const unsigned char *s = data, *end = data + length;
    unsigned char *out = CompBuffer;

    // Copies a literal run of 1 to 127 bytes with moves that may overlap
    // each other but never leave the run.
    auto copy_run = [](unsigned char *to, const unsigned char *from, long n) {
      if (n >= 16)
      {
        for (long i = 0; i + 16 <= n; i += 16)
          memcpy(to + i, from + i, 16);
        memcpy(to + n - 16, from + n - 16, 16);
      }
      else if (n >= 8)
      {
        memcpy(to, from, 8);
        memcpy(to + n - 8, from + n - 8, 8);
      }
      else if (n >= 4)
      {
        memcpy(to, from, 4);
        memcpy(to + n - 4, from + n - 4, 4);
      }
      else
        for (long i = 0; i < n; i++)
          to[i] = from[i];
    };

    while (s < end && out - CompBuffer < length)
    {
      if (s == end - 1)
      {
        *out++ = 0;
        *out++ = *s++;
      }
      else if (s[0] == s[1])
      {
        // A repeat run ends at the first other byte, at 127 bytes or at
        // the end of the data.
        long limit = end - s < 127 ? (long)(end - s) : 127;
        long n = 2;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        const uint64_t pattern = 0x0101010101010101ull * s[0];
        for (; n + 8 <= limit; n += 8)
        {
          uint64_t w;
          memcpy(&w, s + n, 8);
          if (w != pattern)
          {
            n += __builtin_ctzll(w ^ pattern) / 8;
            break;
          }
        }
#endif
        while (n < limit && s[n] == s[0])
          n++;
        *out++ = (unsigned char)(1 - n);
        *out++ = s[0];
        s += n;
      }
      else
      {
        // A literal run ends before the first byte that equals its
        // successor, at 127 bytes, or before the last byte of the data.
        long limit = end - 1 - s < 127 ? (long)(end - 1 - s) : 127;
        long n = 1;
#if defined(__SSE2__) && defined(__GNUC__)
        typedef char bytes16 __attribute__((vector_size(16)));
        for (; n + 16 <= limit; n += 16)
        {
          bytes16 here, next;
          memcpy(&here, s + n, 16);
          memcpy(&next, s + n + 1, 16);
          unsigned same = (unsigned)__builtin_ia32_pmovmskb128((bytes16)(here == next));
          if (same)
          {
            n += __builtin_ctz(same);
            break;
          }
        }
#elif defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        for (; n + 8 <= limit; n += 8)
        {
          uint64_t here, next;
          memcpy(&here, s + n, 8);
          memcpy(&next, s + n + 1, 8);
          uint64_t diff = here ^ next;
          uint64_t same = (diff - ones) & ~diff & highs;
          if (same)
          {
            n += __builtin_ctzll(same) / 8;
            break;
          }
        }
#endif
        while (n < limit && s[n] != s[n + 1])
          n++;
        *out++ = (unsigned char)(n - 1);
        copy_run(out, s, n);
        out += n;
        s += n;
      }
    }
    if (out - CompBuffer < length)
    {
      send = CompBuffer;
      send_length = (int)(out - CompBuffer);
      compressed = 1;
    }
  }

  putchar(0x0D);

  if (model == 5000)
  {
    putbytes("\033(e\002\000", 5);
    put8(offset);
    put8(DotSize);
  }
  else if (offset)
  {
    if (BitPlanes == 1)
    {
      // The move counts in 1/1440 inch (1/2880 at 2880 dpi): an
      // interleave column sits one dot of the page's resolution to the right.
      int unit = HorizontalDpi > 1440 ? HorizontalDpi : 1440;
      putbytes("\033(\\\004\000", 5);
      put16(unit);
      put16((int)((long long)offset * unit / HorizontalDpi));
    }
    else
    {
      putbytes("\033\\", 2);
      put16(offset);
    }
  }

  int row_bytes = rows ? length / rows : 0;
  if ((model >= 6 && model <= 11) || model > 5499)
  {
    putbytes("\033i", 2);
    put8(ctable[plane]);
    put8(compressed);
    put8(BitPlanes);
    put16(row_bytes);
    put16(rows);
  }
  else
  {
    if (PrinterPlanes > 1)
    {
      if (plane < 4)
      {
        putbytes("\033r", 2);
        put8(ctable[plane]);
      }
      else
      {
        putbytes("\033(r\002\000\001", 6);
        put8(ctable[plane] & 15);
      }
    }
    putbytes("\033.", 2);
    put8(compressed);
    put8(vunit);
    put8(hunit);
    put8(rows);
    put16(row_bytes * 8);
  }

  fwrite(send, 1, (size_t)send_length, stdout);
}

// Move the paper to a band's row and send all its rows in one command.
static void OutputBand(ppd_file_t *ppd, const page_header_t *header,
                       dot_band_t *band)
{
  // A cancelled job sends no more rows; the band is only emptied.
  if (!Cancelled)
  {
    OutputFeed = band->y - DotRowCurrent;
    DotRowCurrent = band->y;

    fprintf(stderr, "DEBUG: Printing band %p, x = %d, y = %d, plane = %d, "
            "count = %d, OutputFeed = %d\n", (void *)band, band->x, band->y,
            band->plane, band->count, OutputFeed);

    if (OutputFeed > 0)
    {
      WriteVerticalFeed(OutputFeed);
      OutputFeed = 0;
    }

    CompressData(ppd, band->buffer, band->count * DotBufferSize, band->plane,
                 (int)header->cupsCompression, band->count,
                 (int)(DotColStep * 3600u / header->HWResolution[0]),
                 (int)(DotRowStep * 3600u / header->HWResolution[1]), band->x);
  }

  memset(band->buffer, 0, (size_t)band->count * DotBufferSize);
  band->dirty = 0;
  FlushOutput();
}

// Send one unwoven line: the pending feed, then every plane's row.
static void OutputLine(ppd_file_t *ppd, const page_header_t *header)
{
  for (int p = 0; p < PrinterPlanes && !Cancelled; p++)
  {
    // The feed goes out once, before the first plane of the line.
    if (OutputFeed > 0)
    {
      WriteVerticalFeed(OutputFeed);
      OutputFeed = 0;
    }
    CompressData(ppd, DotBuffers[p], DotBufferSize, p,
                 (int)header->cupsCompression, 1,
                 (int)(3600u / header->HWResolution[0]),
                 (int)(3600u / header->HWResolution[1]), 0);
  }
  OutputFeed++;
  FlushOutput();
}

// Read the next length bytes of the page; a stream that ends early leaves
// zeros, so a cut-off job never prints garbage as page content.
static void ReadPixels(cups_raster_t *raster, unsigned char *buffer,
                       unsigned length)
{
  if (!RasterEnded && length &&
      cupsRasterReadPixels(raster, buffer, length) == length)
    return;
  if (length)
    RasterEnded = true;
  memset(buffer, 0, length);
}

// A band has received its last row: advance it in place when it holds no
// ink, else queue it and give its slot a fresh band.
static void FullBand(ppd_file_t *ppd, const page_header_t *header, int slot,
                     int plane)
{
  dot_band_t *band = DotBands[slot][plane];

  if (!(band->dirty & 1))
  {
    // A clean band prints nothing: it simply moves on to its next rows.
    fprintf(stderr, "DEBUG: Blank band %p, x = %d, y = %d, plane = %d, "
            "count = %d\n", (void *)band, band->x, band->y, band->plane,
            band->count);
    band->row = 0;
    band->y += band->count * DotRowStep;
    band->count = DotRowCount;
    return;
  }

  AddBand(band);
  DotBands[slot][plane] = nullptr;  // the band now waits in DotUsedList

  dot_band_t *replacement;
  if (DotAvailList)
  {
    replacement = DotAvailList;
    DotAvailList = replacement->next;
  }
  else
  {
    replacement = DotUsedList;
    OutputBand(ppd, header, replacement);
    DotUsedList = replacement->next;
  }

  DotBands[slot][plane] = replacement;
  replacement->x = band->x;
  replacement->y = band->y + band->count * DotRowStep;
  replacement->plane = band->plane;
  replacement->row = 0;
  replacement->count = DotRowCount;
}

// Store one packed row into a band and hand the band on when it is full.
static void StoreRow(ppd_file_t *ppd, const page_header_t *header, int slot,
                     int plane)
{
  dot_band_t *band = DotBands[slot][plane];
  const unsigned char *stored = band->buffer + (size_t)band->row * DotBufferSize;
  band->row++;
  // Once a band holds ink, its further rows need no look.
  if (!(band->dirty & 1) && !cupsCheckBytes(stored, DotBufferSize))
    band->dirty |= 1;
  if (band->row >= band->count)
    FullBand(ppd, header, slot, plane);
}

// Dither one line of every plane with the one-thread calls of the library.
static void DitherLine(unsigned char *const *rows, unsigned bytes, int width)
{
  switch (PrinterPlanes)
  {
    case 1:
      cupsDither1(DitherState, DitherLut, rows[0]);
      break;
    case 3:
      cupsDither3(DitherState, DitherLut, rows[0], rows[1], rows[2]);
      break;
    case 4:
      cupsDither4(DitherState, DitherLut, DitherLut, rows[1], rows[2], rows[3], rows[0]);
      break;
    case 6:
      // A line that carries only K, C, M and Y gets its light rows from
      // the ink split; they start empty, never stale.
      if (bytes < 6u * width)
        memset(rows[4], 0, 2 * (size_t)width);
      cupsDither6(DitherState, DitherLut, DitherLut, rows[1], rows[2], rows[3], rows[0],
                  rows[4], rows[5]);
      break;
  }
}

// Pack one dithered line into the printer's rows: woven into the bands, or
// sent as it is when the page is not woven.
static void PackLine(ppd_file_t *ppd, const page_header_t *header, int y,
                     unsigned char *const *rows, bool blank)
{
  int width = (int)header->cupsWidth;

  if (DotRowMax == 1)
  {
    if (blank)
    {
      OutputFeed++;
      return;
    }
    for (int p = 0; p < PrinterPlanes; p++)
    {
      if (BitPlanes == 1)
        cupsPackHorizontal(rows[p], DotBuffers[p], width, 0, 1);
      else
        cupsPackHorizontal2(rows[p], DotBuffers[p], width, 1);
    }
    OutputLine(ppd, header);
    return;
  }

  int columns = width / DotColStep;
  int slot = y % DotRowStep;
  for (int x = 0; x < DotColStep; x++, slot += DotRowStep)
  {
    for (int p = 0; p < PrinterPlanes; p++)
    {
      dot_band_t *band = DotBands[slot][p];
      unsigned char *row = band->buffer + (size_t)band->row * DotBufferSize;
      if (BitPlanes == 1)
        cupsPackHorizontal(rows[p] + x, row, columns, 0, DotColStep);
      else
        cupsPackHorizontal2(rows[p] + x, row, columns, DotColStep);
      StoreRow(ppd, header, slot, p);
    }
  }
}

// ---------------------------------------------------------------------------
// Dither threads. The main thread reads the lines and packs and sends the
// lines the workers have dithered, in page order, up to kQueuedLines behind.
// One thread runs all inks of a line side by side faster than several
// threads run a group each, and the random weights are best drawn where
// they are used: the first worker dithers whole lines, as one thread would,
// while it keeps up. When it falls behind, lines are split: it makes the
// line ready (ink split, every ink's weights drawn in the order one thread
// would take them) and each worker dithers a group of the inks, whose error
// chains are independent. The printer gets the same bytes as from one
// thread.

constexpr int kQueuedLines = 8;  // lines between reading and sending
constexpr int kSplitBehind = 4;  // lines the first worker may lag before lines split
constexpr uint64_t kMaxQueueMemory = 64ull << 20;  // bytes the queue may take

// One line on its way from the raster to the bands.
struct QueuedLine
{
  unsigned char *pixels;  // one row per plane
  dither_line_t *line;    // the line made ready for the workers
  int y;                  // raster line on the page
  unsigned bytes;         // bytes the raster line had
  bool blank;             // no ink: nothing to dither
  bool whole;             // the first worker dithers every plane
};

static int DitherThreads = -1;        // workers allowed; 1: the main thread alone
static int DitherWorkers;             // workers started
static QueuedLine Queue[kQueuedLines];
static int QueueWidth, QueuePlanes;   // size the queue's buffers have
static bool QueueOn;                  // the page's lines go through the queue
static long QueueRead, QueueSent;     // lines read and made ready; lines sent
static int Groups;                    // ink groups of the page, one per worker
static int GroupFirst[kMaxPlanes];    // first plane of each group
static int GroupCount[kMaxPlanes];    // planes of each group
static long GroupDone[kMaxPlanes];    // lines each group has dithered
static long LinesPrepared;            // lines the first worker has made ready
static int WorkersBusy;               // workers in the middle of a line
static bool QueueStopped;             // workers take no more lines
static long MainUntil = -1;           // lines the main thread waits to see dithered
static bool MainStopping;             // the main thread waits for idle workers
// Plain POSIX objects: nothing to destroy at exit while workers wait on them.
static pthread_mutex_t QueueLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t WorkerReady[kMaxPlanes] = {  // a line for worker g
  PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER,
  PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER,
  PTHREAD_COND_INITIALIZER};
static pthread_cond_t QueueDone = PTHREAD_COND_INITIALIZER;  // what the main thread waits for

// Threads to dither with: INKBANDS_THREADS, else the processors the filter
// may run on.
static int DitherThreadCount()
{
  const char *value = getenv("INKBANDS_THREADS");
  if (value && *value)
  {
    char *end;
    long n = strtol(value, &end, 10);
    if (*end == '\0' && n >= 1)
      return n > kMaxPlanes ? kMaxPlanes : (int)n;
    fprintf(stderr, "DEBUG: INKBANDS_THREADS=\"%s\" is not a thread count; ignored.\n", value);
  }
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof(cpus), &cpus) == 0 && CPU_COUNT(&cpus) > 1)
    return CPU_COUNT(&cpus) > kMaxPlanes ? kMaxPlanes : CPU_COUNT(&cpus);
  return 1;
}

// Lines every group has dithered.
static long LinesDithered()
{
  long done = QueueRead;
  for (int g = 0; g < Groups; g++)
    done = GroupDone[g] < done ? GroupDone[g] : done;
  return done;
}

// True when worker g can dither its next line: the line is made ready and,
// for a whole line, every group has finished the line before.
static bool CanDither(int g)
{
  if (QueueStopped || g >= Groups || GroupDone[g] >= QueueRead)
    return false;
  long y = GroupDone[g];
  if (!Queue[y % kQueuedLines].whole)
    return g == 0 || LinesPrepared > y;
  if (g > 0)
    return false;
  for (int h = 1; h < Groups; h++)
    if (GroupDone[h] < y)
      return false;
  return true;
}

// Wake the workers that can go on, and only those: a worker woken for
// nothing costs two switches of the processor. Called with the lock held.
static void WakeWorkers()
{
  for (int g = 0; g < Groups; g++)
    if (CanDither(g))
      pthread_cond_signal(&WorkerReady[g]);
}

// One worker: dithers its group's planes of each line made ready, in order.
static void *DitherWorker(void *arg)
{
  int g = (int)(intptr_t)arg;
  pthread_mutex_lock(&QueueLock);
  for (;;)
  {
    while (!CanDither(g))
      pthread_cond_wait(&WorkerReady[g], &QueueLock);
    long y = GroupDone[g];
    QueuedLine &queued = Queue[y % kQueuedLines];
    bool whole = queued.whole;
    WorkersBusy++;
    pthread_mutex_unlock(&QueueLock);
    unsigned char *rows[kMaxPlanes] = {};
    for (int p = 0; p < PrinterPlanes; p++)
      rows[p] = queued.pixels + (size_t)p * QueueWidth;
    if (queued.blank)
    {
      // Blank paper: nothing to dither, the direction stays.
    }
    else if (whole)
      DitherLine(rows, queued.bytes, QueueWidth);
    else if (g > 0)
      cupsDitherPlanes(DitherState, queued.line, GroupFirst[g], GroupCount[g]);
    else
    {
      // The library takes cyan, magenta, yellow, black, light cyan, light
      // magenta; a four- or six-ink raster line starts with black.
      unsigned char *inks[kMaxPlanes] = {rows[1], rows[2], rows[3], rows[0], rows[4], rows[5]};
      bool ready = cupsDitherPrepare(DitherState, queued.line, DitherLut, DitherLut,
                                     PrinterPlanes >= 4 ? inks : rows, PrinterPlanes);
      pthread_mutex_lock(&QueueLock);
      if (!ready)
      {
        // A line only the one-thread calls can dither waits for every
        // group to finish the line before.
        queued.whole = whole = true;
        while (!QueueStopped && !CanDither(0))
          pthread_cond_wait(&WorkerReady[0], &QueueLock);
      }
      bool stopped = QueueStopped;
      LinesPrepared = y + 1;
      WakeWorkers();
      pthread_mutex_unlock(&QueueLock);
      if (ready)
        cupsDitherPlanes(DitherState, queued.line, GroupFirst[0], GroupCount[0]);
      else if (!stopped)
        DitherLine(rows, queued.bytes, QueueWidth);
    }
    pthread_mutex_lock(&QueueLock);
    WorkersBusy--;
    if (g == 0)
      LinesPrepared = y + 1;
    for (int h = whole ? 0 : g; h < (whole ? Groups : g + 1); h++)
      GroupDone[h]++;
    // A whole line lets the other groups go on; a split one may let the
    // first worker take its next whole line.
    WakeWorkers();
    if (MainStopping ? WorkersBusy == 0 : MainUntil >= 0 && LinesDithered() >= MainUntil)
      pthread_cond_signal(&QueueDone);
  }
  return nullptr;
}

// Release the queue's line buffers.
static void FreeQueue()
{
  for (QueuedLine &queued : Queue)
  {
    free(queued.pixels);
    cupsDitherLineDelete(queued.line);
    queued.pixels = nullptr;
    queued.line = nullptr;
  }
  QueueWidth = QueuePlanes = 0;
}

// Set up the queue and its workers for a contone page; a page they cannot
// be had for goes through the main thread alone.
static void QueueSetup(const page_header_t *header)
{
  QueueOn = false;
  if (DitherThreads < 0)
    DitherThreads = DitherThreadCount();
  // One ink's dither is too short a step to hand to another thread: the
  // hand-over costs what the overlap saves.
  if (DitherThreads < 2 || PrinterPlanes < 3)
    return;

  // A line in the queue holds its ink amounts and four bytes of weights per
  // pixel and plane; a roll too wide for a modest queue goes the one way.
  int width = (int)header->cupsWidth;
  if ((uint64_t)width * PrinterPlanes * 5 * kQueuedLines > kMaxQueueMemory)
    return;
  if (width != QueueWidth || PrinterPlanes != QueuePlanes)
  {
    FreeQueue();
    for (QueuedLine &queued : Queue)
    {
      queued.pixels = (unsigned char *)calloc((size_t)width, (size_t)PrinterPlanes);
      queued.line = cupsDitherLineNew(width, PrinterPlanes);
      if (!queued.pixels || !queued.line)
      {
        FreeQueue();
        return;
      }
    }
    QueueWidth = width;
    QueuePlanes = PrinterPlanes;
  }

  // Fewer than three inks side by side run so much slower a plane that a
  // split line costs more than it saves: groups hold three inks or more.
  int groups = PrinterPlanes / 3 > 1 ? PrinterPlanes / 3 : 1;
  if (groups > DitherThreads)
    groups = DitherThreads;
  // Signals belong to the main thread: the workers start with them blocked.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  for (; DitherWorkers < groups; DitherWorkers++)
  {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, DitherWorker, (void *)(intptr_t)DitherWorkers) != 0)
      break;
    pthread_detach(thread);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (DitherWorkers < groups)
    groups = DitherWorkers;
  if (groups < 1)
    return;

  pthread_mutex_lock(&QueueLock);
  Groups = groups;
  for (int g = 0; g < groups; g++)
  {
    GroupFirst[g] = g * PrinterPlanes / groups;
    GroupCount[g] = (g + 1) * PrinterPlanes / groups - GroupFirst[g];
    GroupDone[g] = 0;
  }
  LinesPrepared = 0;
  QueueRead = QueueSent = 0;
  QueueStopped = false;
  QueueOn = true;
  pthread_mutex_unlock(&QueueLock);
}

// Pack and send the lines the workers have finished, waiting until at
// least the first until lines of the page are sent.
static void SendQueuedLines(ppd_file_t *ppd, const page_header_t *header, long until)
{
  pthread_mutex_lock(&QueueLock);
  MainUntil = until;
  while (LinesDithered() < until)
    pthread_cond_wait(&QueueDone, &QueueLock);
  MainUntil = -1;
  long ready = LinesDithered();
  pthread_mutex_unlock(&QueueLock);
  int width = (int)header->cupsWidth;
  for (; QueueSent < ready; QueueSent++)
  {
    QueuedLine &queued = Queue[QueueSent % kQueuedLines];
    unsigned char *rows[kMaxPlanes];
    for (int p = 0; p < PrinterPlanes; p++)
      rows[p] = queued.pixels + (size_t)p * width;
    PackLine(ppd, header, queued.y, rows, queued.blank);
  }
}

// Read one line into the queue and make it ready for the workers.
static void QueueLine(ppd_file_t *ppd, cups_raster_t *raster, const page_header_t *header,
                      int y)
{
  // A full queue waits for half of it, so that the threads do not take
  // turns line by line.
  if (QueueRead - QueueSent == kQueuedLines)
    SendQueuedLines(ppd, header, QueueSent + kQueuedLines / 2);

  unsigned bytes = header->cupsBytesPerLine;
  int width = (int)header->cupsWidth;
  QueuedLine &queued = Queue[QueueRead % kQueuedLines];
  unsigned char *rows[kMaxPlanes] = {};
  for (int p = 0; p < PrinterPlanes; p++)
    rows[p] = queued.pixels + (size_t)p * width;

  ReadPixels(raster, queued.pixels, bytes);
  queued.y = y;
  queued.bytes = bytes;
  queued.blank = cupsCheckBytes(queued.pixels, (int)bytes);
  if (PrinterPlanes == 6 && (queued.blank || bytes < 6u * width))
    memset(rows[4], 0, 2 * (size_t)width);

  pthread_mutex_lock(&QueueLock);
  queued.whole = queued.blank || Groups == 1 || QueueRead - GroupDone[0] < kSplitBehind;
  QueueRead++;
  WakeWorkers();
  pthread_mutex_unlock(&QueueLock);
  // The page's progress goes out every 128 lines and at its end: the bands
  // of the lines before are sent first, as with one thread, so that the
  // messages keep their order.
  bool last = (y + 1) % 128 == 0 || y + 1u >= header->cupsHeight || RasterEnded;
  SendQueuedLines(ppd, header, last ? QueueRead : QueueSent);
}

// Send every line still in the queue: the page is read to its end.
static void FinishQueue(ppd_file_t *ppd, const page_header_t *header)
{
  if (QueueOn)
    SendQueuedLines(ppd, header, QueueRead);
}

// Stop the workers at the end of the line they dither, before the page's
// buffers go.
static void StopDitherThreads()
{
  if (DitherWorkers == 0)
    return;
  pthread_mutex_lock(&QueueLock);
  QueueStopped = true;
  QueueOn = false;
  MainStopping = true;
  while (WorkersBusy > 0)
    pthread_cond_wait(&QueueDone, &QueueLock);
  MainStopping = false;
  pthread_mutex_unlock(&QueueLock);
}

// Turn one raster line into printer rows: dither, pack, weave or send.
static void ProcessLine(ppd_file_t *ppd, cups_raster_t *raster,
                        const page_header_t *header, int y)
{
  unsigned bytes = header->cupsBytesPerLine;

  if (header->cupsBitsPerColor == 1)
  {
    if (DotRowMax > 1)
    {
      // Pre-dithered dots are stored as they come, in column 0.
      int slot = y % DotRowStep;
      for (int p = 0; p < PrinterPlanes; p++)
      {
        dot_band_t *band = DotBands[slot][p];
        ReadPixels(raster, band->buffer + (size_t)band->row * DotBufferSize,
                   (unsigned)DotBufferSize);
        StoreRow(ppd, header, slot, p);
      }
    }
    else
    {
      ReadPixels(raster, DotBuffers[0], bytes);
      if (cupsCheckBytes(DotBuffers[0], (int)bytes))
        OutputFeed++;
      else
        OutputLine(ppd, header);
    }
    return;
  }

  if (QueueOn)
  {
    QueueLine(ppd, raster, header, y);
    return;
  }

  ReadPixels(raster, PixelBuffers[0], bytes);
  int width = (int)header->cupsWidth;
  bool blank = cupsCheckBytes(PixelBuffers[0], (int)bytes);
  if (!blank)
    DitherLine(PixelBuffers, bytes, width);
  else if (DotRowMax > 1 && PrinterPlanes > 4)
    memset(PixelBuffers[4], 0, 2 * (size_t)width);
  PackLine(ppd, header, y, PixelBuffers, blank);
}

// Finish the page: send every band still waiting, free the page's
// buffers and eject the sheet.
static void EndPage(ppd_file_t *ppd, const page_header_t *header)
{
  FinishQueue(ppd, header);
  if (DotRowMax > 1)
  {
    for (int s = 0; s < DotRowStep * DotColStep; s++)
    {
      for (int p = 0; p < PrinterPlanes; p++)
      {
        dot_band_t *band = DotBands[s][p];
        if (band->dirty & 1)
        {
          band->count = band->row;
          AddBand(band);
        }
        else
        {
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
    while (dot_band_t *band = DotUsedList)
    {
      OutputBand(ppd, header, band);
      fprintf(stderr, "DEBUG: freeing used band %p, prev = %p, next = %p\n",
              (void *)band, (void *)band->prev, (void *)band->next);
      DotUsedList = band->next;
      free(band->buffer);
      free(band);
    }
    while (dot_band_t *band = DotAvailList)
    {
      fprintf(stderr, "DEBUG: freeing avail band %p, prev = %p,  next = %p\n",
              (void *)band, (void *)band->prev, (void *)band->next);
      DotAvailList = band->next;
      free(band->buffer);
      free(band);
    }
  }

  putchar(0x0C);
  FreePageBuffers();
  FlushOutput();
}

// Release everything a page set up: bands wherever they are, row blocks,
// the dither and the compression buffer.
static void FreePageBuffers()
{
  StopDitherThreads();
  for (int s = 0; s < kBandSlots; s++)
  {
    for (int p = 0; p < kMaxPlanes; p++)
    {
      if (DotBands[s][p])
      {
        free(DotBands[s][p]->buffer);
        free(DotBands[s][p]);
        DotBands[s][p] = nullptr;
      }
    }
  }
  for (dot_band_t **list : {&DotUsedList, &DotAvailList})
  {
    for (dot_band_t *band = *list, *next; band; band = next)
    {
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

// ---------------------------------------------------------------------------
// Job loop

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

// Read from the raster descriptor, noting its end.
static ssize_t ReadInput(RasterInput *input, unsigned char *buffer, size_t length)
{
  ssize_t got;
  do
    got = read(input->fd, buffer, length);
  while (got < 0 && errno == EINTR);
  if (got == 0)
    input->ended = true;
  if (got < 0)
    input->error = errno;
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
  if (input->start == input->end && !input->ended && length >= sizeof(input->ahead))
  {
    ssize_t got = ReadInput(input, buffer, length);
    if (got < 0)
      return got;
    if (got > 0)
    {
      input->ahead[0] = buffer[got - 1];
      input->start = 0;
      input->end = 1;
      if (got > 1)
      {
        input->bytes += (size_t)got - 1;
        return got - 1;
      }
    }
  }
  while (input->end - input->start <= 1 && !input->ended)
  {
    if (input->start > 0)
    {
      memmove(input->ahead, input->ahead + input->start, input->end - input->start);
      input->end -= input->start;
      input->start = 0;
    }
    ssize_t got = ReadInput(input, input->ahead + input->end,
                            sizeof(input->ahead) - input->end);
    if (got < 0)
      return got;
    input->end += (size_t)got;
  }
  size_t n = input->end - input->start - (input->ended ? 0 : 1);
  if (n > length)
    n = length;
  memcpy(buffer, input->ahead + input->start, n);
  input->start += n;
  input->bytes += n;
  return (ssize_t)n;
}

// Release the PPD and the raster stream of the job.
static void CloseJob()
{
  if (JobRaster)
    cupsRasterClose(JobRaster);
  if (JobFd > 0)
    close(JobFd);
  if (JobPpd)
    ppdClose(JobPpd);
  JobRaster = nullptr;
  JobFd = 0;
  JobPpd = nullptr;
}

// Note that the job is cancelled; the band output acts on it.
[[maybe_unused]] static void CancelJob(int)
{
  Cancelled = 1;
}

// Print every page of the raster job on the printer the PPD describes.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  // A printer connection that closes must end in a reported error, not in
  // a silent death by SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  // A cancel must not leave the printer inside a raster command: the
  // backend keeps reading while we end the page. Interrupted reads and
  // writes restart, so no command is cut short by the signal itself.
  // (The fuzzer's process keeps its own handlers.)
  Cancelled = 0;
#ifndef INKBANDS_FUZZ
  struct sigaction cancel = {};
  cancel.sa_handler = CancelJob;
  cancel.sa_flags = SA_RESTART;
  sigemptyset(&cancel.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    sigaction(sig, &cancel, nullptr);
#endif

  if (argc != 6 && argc != 7)
  {
    fputs("ERROR: inkbands job-id user title copies options [file]\n", stderr);
    return 1;
  }

  const char *ppdname = getenv("PPD");
  if (!ppdname || !*ppdname)
  {
    fputs("ERROR: No PPD file specified (set the PPD environment variable).\n",
          stderr);
    return 1;
  }
  // A PPD that cannot be read at all is reported by the system's reason,
  // one that is no PPD by what is wrong and where.
  struct stat info;
  int ppdfd = open(ppdname, O_RDONLY);
  int reason = ppdfd < 0 ? errno
               : fstat(ppdfd, &info) ? errno
               : S_ISDIR(info.st_mode) ? EISDIR : 0;
  if (ppdfd >= 0)
    close(ppdfd);
  if (reason)
  {
    fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s.\n", ppdname,
            strerror(reason));
    return 1;
  }
  ppd_file_t *ppd = JobPpd = ppdOpenFile(ppdname);
  if (!ppd)
  {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    if (line > 0)
      fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s on line %d.\n",
              ppdname, ppdErrorString(status), line);
    else
      fprintf(stderr, "ERROR: Unable to open PPD file \"%s\" - %s.\n", ppdname,
              ppdErrorString(status));
    return 1;
  }

  JobFd = 0;
  if (argc == 7)
  {
    JobFd = open(argv[6], O_RDONLY);
    if (JobFd == -1)
    {
      JobFd = 0;
      fprintf(stderr, "ERROR: Unable to open raster file - %s\n",
              strerror(errno));
      CloseJob();
      return 1;
    }
  }

  RasterInput input = {};
  input.fd = JobFd;
  cups_raster_t *raster = JobRaster =
    cupsRasterOpenIO(ReadRaster, &input, CUPS_RASTER_READ);
  if (!raster && input.error)
  {
    fprintf(stderr, "ERROR: Unable to read raster data - %s\n", strerror(input.error));
    CloseJob();
    return 1;
  }
  if (!raster && input.bytes > 0)
  {
    fputs("ERROR: Unable to read raster data.\n", stderr);
    CloseJob();
    return 1;
  }

  // An empty job is a job of no pages, not a broken one.
  Setup(ppd);

  page_header_t header;
  int page = 0;
  RasterEnded = false;
  size_t before_header = 0;
  while (raster && !Cancelled &&
         (before_header = input.bytes, errno = 0, cupsRasterReadHeader2(raster, &header)))
  {
    page++;

    char reason[256];
    if (CheckPage(ppd, &header, reason, sizeof(reason)))
      Fatal(ppd, "Page %d: %s", page, reason);

    fprintf(stderr, "PAGE: %d %d\n", page, header.NumCopies);
    fprintf(stderr, "INFO: Starting page %d...\n", page);

    StartPage(ppd, &header);

    // Once the data has run out the rest of the page is blank: stop there
    // rather than walk every empty line a broken header promises (billions).
    for (unsigned y = 0; y < header.cupsHeight && !RasterEnded && !Cancelled; y++)
    {
      if ((y & 127) == 0)
        fprintf(stderr, "INFO: Printing page %d, %u%% complete...\n", page,
                (unsigned)((uint64_t)y * 100 / header.cupsHeight));
      ProcessLine(ppd, raster, &header, (int)y);
    }

    if (!Cancelled)
      fprintf(stderr, "INFO: Finished page %d...\n", page);
    EndPage(ppd, &header);

    // Input that stops because the job was cancelled is no damaged job.
    if (RasterEnded && !Cancelled)
      Fatal(ppd, "The print data ended in the middle of page %d; the rest of "
            "the page was left blank.", page);
  }

  int header_error = errno;

  if (Cancelled)
  {
    Shutdown(ppd);
    FlushOutput();
    CloseJob();
    if (page == 0)
    {
      fputs("INFO: The job was cancelled before its first page; the printer "
            "was reset.\n", stderr);
      return 1;
    }
    fprintf(stderr, "INFO: The job was cancelled on page %d; the page was "
            "ejected and the printer reset.\n", page);
    return 0;
  }

  // The raster library ends the page loop both at the end of the data and
  // at a page header it refuses (no lines, a depth or line size it cannot
  // read, a header cut short, a line buffer it cannot have): the latter
  // must not pass for a finished job with its last pages silently missing.
  if (raster && header_error == ENOMEM)
    Fatal(ppd, "Unable to allocate memory for reading page %d.", page + 1);
  bool at_end = input.ended && input.start == input.end;
  if (raster && (!at_end || input.bytes > before_header))
    Fatal(ppd, "Page %d: the page header is damaged, cut short or describes no "
          "lines; the job was stopped there.", page + 1);

  Shutdown(ppd);
  FlushOutput();
  CloseJob();

  if (page == 0)
  {
    fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  return 0;
}
