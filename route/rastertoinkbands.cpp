// rastertoinkbands: the step between a rasterizer and the inkbands filter.
//
// Ghostscript renders pages in bands, quickly and in little memory, but it
// will not render 8-bit KCMYcm: the PPDs therefore ask every rasterizer for
// KCMY pages when the job prints in photo inks, and this step marks those
// pages KCMYcm again.  An 8-bit KCMYcm page carries four planes a line, K, C,
// M and Y, exactly as a KCMY page does; the mark tells the filter to split
// cyan and magenta into full and light inks.  Every other page, and every
// pixel, goes through unchanged.
//
// Reads CUPS raster from standard input (or the file named by the sixth
// argument), writes CUPS raster to standard output.

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// The colour model that prints with the light inks on printers that have them.
static const char kPhotoModel[] = "Photo";

// Raster lines are copied in blocks of about this many bytes.
static const size_t kCopyBlock = 4 << 20;

// The raster input as this step reads it: how much arrived, and whether it
// came to its end, so that a damaged page header is told from the job's end.
struct RasterInput
{
  int fd;
  size_t bytes;
  bool ended;
  unsigned char first[4];  // the start of the stream, passed on if not raster
};

// Read raster bytes for the raster library, counting them.
static ssize_t ReadRaster(void *ctx, unsigned char *buffer, size_t length)
{
  RasterInput *input = static_cast<RasterInput *>(ctx);
  ssize_t got;
  do
    got = read(input->fd, buffer, length);
  while (got < 0 && errno == EINTR);
  if (got <= 0)
  {
    input->ended = true;
    return got;
  }
  if (input->bytes < sizeof(input->first))
  {
    size_t keep = sizeof(input->first) - input->bytes;
    memcpy(input->first + input->bytes, buffer, keep < (size_t)got ? keep : (size_t)got);
  }
  input->bytes += (size_t)got;
  return got;
}

// Write all of a block to the next step, however the pipe splits it.
static bool WriteAll(int fd, const void *data, size_t length)
{
  const char *bytes = static_cast<const char *>(data);
  while (length > 0)
  {
    ssize_t put = write(fd, bytes, length);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    bytes += put;
    length -= (size_t)put;
  }
  return true;
}

// Whether the job asked for photo printing: the PPD's marked colour model
// after the job's options (IPP's print-quality and print-color-mode
// included), or the job's own ColorModel when the PPD offers none.
static bool JobWantsLightInks(const char *option_text)
{
  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(option_text, 0, &options);
  const char *model = cupsGetOption("ColorModel", num_options, options);
  const char *ppdname = getenv("PPD");
  ppd_file_t *ppd = ppdname && *ppdname ? ppdOpenFile(ppdname) : nullptr;
  if (ppd && ppdFindOption(ppd, "ColorModel"))
  {
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_options, options);
    ppd_choice_t *choice = ppdFindMarkedChoice(ppd, "ColorModel");
    model = choice ? choice->choice : nullptr;
  }
  bool photo = model && !strcmp(model, kPhotoModel);
  if (ppd)
    ppdClose(ppd);
  cupsFreeOptions(num_options, options);
  return photo;
}

// Mark a page KCMYcm when it is one the filter can print in six inks.
static void MarkLightInks(cups_page_header2_t *header)
{
  if (header->cupsColorSpace == CUPS_CSPACE_KCMY && header->cupsBitsPerColor == 8 &&
      header->cupsColorOrder == CUPS_ORDER_BANDED)
    header->cupsColorSpace = CUPS_CSPACE_KCMYcm;
}

// Pass on input that is not raster as it came, for the filter to refuse.
static int PassThrough(RasterInput *input)
{
  size_t seen = input->bytes < sizeof(input->first) ? input->bytes : sizeof(input->first);
  if (!WriteAll(1, input->first, seen))
    return 1;
  std::vector<unsigned char> block(1 << 16);
  ssize_t got;
  while ((got = read(input->fd, block.data(), block.size())) > 0 || (got < 0 && errno == EINTR))
    if (got > 0 && !WriteAll(1, block.data(), (size_t)got))
      return 1;
  return 0;
}

// Copy every page to the filter, marking the photo pages six-ink.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  // The filter stopping early ends this step by a failed write, not SIGPIPE.
  signal(SIGPIPE, SIG_IGN);

  if (argc != 6 && argc != 7)
  {
    fputs("ERROR: rastertoinkbands job-id user title copies options [file]\n", stderr);
    return 1;
  }

  RasterInput input = {};
  if (argc == 7)
  {
    input.fd = open(argv[6], O_RDONLY);
    if (input.fd == -1)
    {
      fprintf(stderr, "ERROR: Unable to open raster file - %s\n", strerror(errno));
      return 1;
    }
  }

  bool photo = JobWantsLightInks(argv[5]);
  fprintf(stderr, "DEBUG: rastertoinkbands: %s inks\n", photo ? "light" : "the page's own");

  cups_raster_t *in = cupsRasterOpenIO(ReadRaster, &input, CUPS_RASTER_READ);
  if (!in)
    return input.bytes > 0 ? PassThrough(&input) : 0;
  // Uncompressed: the filter reads it with the least work.
  cups_raster_t *out = cupsRasterOpen(1, CUPS_RASTER_WRITE);
  if (!out)
  {
    fputs("ERROR: Unable to send raster data to the printer driver.\n", stderr);
    return 1;
  }

  std::vector<unsigned char> block;
  cups_page_header2_t header;
  int page = 0;
  size_t before_header = 0;
  bool sent = true;
  while (sent && (before_header = input.bytes, cupsRasterReadHeader2(in, &header)))
  {
    page++;
    if (photo)
      MarkLightInks(&header);
    if (!cupsRasterWriteHeader2(out, &header))
    {
      sent = false;
      break;
    }
    unsigned line = header.cupsBytesPerLine;
    unsigned lines = line ? (unsigned)(kCopyBlock / line) : 0;
    if (lines == 0)
      lines = 1;
    block.resize((size_t)line * lines);
    for (unsigned y = 0; y < header.cupsHeight && sent;)
    {
      unsigned count = header.cupsHeight - y < lines ? header.cupsHeight - y : lines;
      unsigned length = line * count;
      if (cupsRasterReadPixels(in, block.data(), length) != length)
      {
        // The filter sees the page end early and reports it to the user.
        fprintf(stderr, "DEBUG: rastertoinkbands: the data ended in page %d\n", page);
        cupsRasterClose(out);
        cupsRasterClose(in);
        return 0;
      }
      sent = cupsRasterWritePixels(out, block.data(), length) == length;
      y += count;
    }
  }

  if (!sent)
  {
    fprintf(stderr, "ERROR: Unable to send raster data to the printer driver - %s\n",
            strerror(errno));
    cupsRasterClose(out);
    cupsRasterClose(in);
    return 1;
  }
  cupsRasterClose(out);
  cupsRasterClose(in);
  // A header the raster library refused goes on cut short, so the filter
  // stops the job there and says so.
  if (!input.ended || input.bytes > before_header)
  {
    static const unsigned char kCutHeader[16] = {};
    WriteAll(1, kCutHeader, sizeof(kCutHeader));
  }
  if (input.fd > 0)
    close(input.fd);
  fprintf(stderr, "DEBUG: rastertoinkbands: %d page(s)\n", page);
  return 0;
}
