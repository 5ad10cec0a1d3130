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
// argument), writes CUPS raster to standard output.  Uncompressed raster in
// this machine's byte order (what Ghostscript and Poppler write) is passed
// on as it is, its pixels moved from pipe to pipe by the kernel; any other
// raster is read and rewritten through the raster library.

#include "colour_model.h"

#include <cups/raster.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// The colour model that prints with the light inks on printers that have them.
static const char kPhotoModel[] = "Photo";

// Pixels are moved in blocks of at most this many bytes.
static const size_t kCopyBlock = 4 << 20;

// Why the copy to the filter stopped short, if it did.
enum class Copy
{
  Done,
  InputEnded,
  FilterGone,
  Failed
};

// The raster input as this step reads it: the sync word already read comes
// first; the count of bytes and the end tell a damaged page header from the
// job's end.
struct RasterInput
{
  int fd;
  unsigned char sync[4];
  size_t sync_length, sync_served;
  size_t bytes;
  bool ended;
};

// Read up to length bytes, fewer only at the end of the input.
static size_t ReadFull(int fd, void *data, size_t length)
{
  size_t done = 0;
  while (done < length) {
    ssize_t got = read(fd, static_cast<char *>(data) + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += (size_t)got;
  }
  return done;
}

// Write all of a block to the filter; says why when it cannot.
static Copy WriteAll(const void *data, size_t length)
{
  const char *bytes = static_cast<const char *>(data);
  while (length > 0) {
    ssize_t put = write(1, bytes, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return errno == EPIPE ? Copy::FilterGone : Copy::Failed;
    bytes += put;
    length -= (size_t)put;
  }
  return Copy::Done;
}

// Move length bytes of pixels from the input to the filter: spliced from
// pipe to pipe where the kernel can, else read and written.
static Copy MovePixels(int fd, uint64_t length)
{
  static std::vector<unsigned char> block;
  bool splicing = true;
  while (length > 0) {
    size_t want = (size_t)std::min<uint64_t>(length, kCopyBlock);
    ssize_t moved;
    if (splicing) {
      moved = splice(fd, nullptr, 1, nullptr, want, SPLICE_F_MOVE | SPLICE_F_MORE);
      if (moved < 0 && (errno == EINVAL || errno == ENOSYS)) {
        splicing = false;  // neither end is a pipe
        continue;
      }
      if (moved < 0 && errno == EPIPE) return Copy::FilterGone;
    } else {
      block.resize(kCopyBlock);
      moved = read(fd, block.data(), want);
      if (moved > 0) {
        Copy sent = WriteAll(block.data(), (size_t)moved);
        if (sent != Copy::Done) return sent;
      }
    }
    if (moved < 0 && errno == EINTR) continue;
    if (moved == 0) return Copy::InputEnded;
    if (moved < 0) return Copy::Failed;
    length -= (uint64_t)moved;
  }
  return Copy::Done;
}

// Whether the job asked for photo printing.
static bool JobWantsLightInks(const char *option_text)
{
  const char *ppdname = getenv("PPD");
  ppd_file_t *ppd = ppdname && *ppdname ? ppdOpenFile(ppdname) : nullptr;
  bool photo = JobColourModel(ppd, option_text) == kPhotoModel;
  if (ppd) ppdClose(ppd);
  return photo;
}

// Mark a page KCMYcm when it is one the filter can print in six inks.
static void MarkLightInks(cups_page_header2_t *header)
{
  if (header->cupsColorSpace == CUPS_CSPACE_KCMY && header->cupsBitsPerColor == 8 &&
      header->cupsColorOrder == CUPS_ORDER_BANDED)
    header->cupsColorSpace = CUPS_CSPACE_KCMYcm;
}

// Pass on uncompressed raster in this machine's byte order: each header as
// read (marked if need be), then its pixels untouched.  A header cut short
// goes on as it came; the filter refuses it, or sees its page end early, and
// tells the user.
static Copy PassPages(RasterInput *input, bool photo, int *page)
{
  Copy sent = WriteAll(input->sync, sizeof(input->sync));
  cups_page_header2_t header;
  size_t got;
  while (sent == Copy::Done && (got = ReadFull(input->fd, &header, sizeof(header))) > 0) {
    if (got < sizeof(header)) return WriteAll(&header, got);
    ++*page;
    if (photo) MarkLightInks(&header);
    sent = WriteAll(&header, sizeof(header));
    if (sent == Copy::Done)
      sent = MovePixels(input->fd, (uint64_t)header.cupsBytesPerLine * header.cupsHeight);
  }
  return sent;
}

// Read raster bytes for the raster library, the sync word first, counting
// them.
static ssize_t ReadRaster(void *ctx, unsigned char *buffer, size_t length)
{
  RasterInput *input = static_cast<RasterInput *>(ctx);
  ssize_t got;
  if (input->sync_served < input->sync_length) {
    got = (ssize_t)std::min(length, input->sync_length - input->sync_served);
    memcpy(buffer, input->sync + input->sync_served, (size_t)got);
    input->sync_served += (size_t)got;
  } else {
    do got = read(input->fd, buffer, length);
    while (got < 0 && errno == EINTR);
  }
  if (got <= 0) {
    input->ended = true;
    return got;
  }
  input->bytes += (size_t)got;
  return got;
}

// Rewrite compressed or byte-swapped raster page by page through the raster
// library, uncompressed: the filter reads that with the least work.
static Copy RewritePages(RasterInput *input, bool photo, int *page)
{
  cups_raster_t *in = cupsRasterOpenIO(ReadRaster, input, CUPS_RASTER_READ);
  cups_raster_t *out = in ? cupsRasterOpen(1, CUPS_RASTER_WRITE) : nullptr;
  Copy sent = out ? Copy::Done : Copy::Failed;
  std::vector<unsigned char> block;
  cups_page_header2_t header;
  size_t before_header = 0;
  while (sent == Copy::Done && (before_header = input->bytes, cupsRasterReadHeader2(in, &header))) {
    ++*page;
    if (photo) MarkLightInks(&header);
    if (!cupsRasterWriteHeader2(out, &header)) {
      sent = errno == EPIPE ? Copy::FilterGone : Copy::Failed;
      break;
    }
    unsigned line = header.cupsBytesPerLine;
    unsigned lines = std::max(1u, (unsigned)(kCopyBlock / line));
    block.resize((size_t)line * lines);
    for (unsigned y = 0; y < header.cupsHeight && sent == Copy::Done; y += lines) {
      unsigned length = line * std::min(lines, header.cupsHeight - y);
      if (cupsRasterReadPixels(in, block.data(), length) != length)
        sent = Copy::InputEnded;
      else if (cupsRasterWritePixels(out, block.data(), length) != length)
        sent = errno == EPIPE ? Copy::FilterGone : Copy::Failed;
    }
  }
  if (out) cupsRasterClose(out);
  if (in) cupsRasterClose(in);
  // A header the raster library refused goes on cut short, so the filter
  // stops the job there and says so.
  if (sent == Copy::Done && (!input->ended || input->bytes > before_header)) {
    static const unsigned char kCutHeader[16] = {};
    sent = WriteAll(kCutHeader, sizeof(kCutHeader));
  }
  return sent;
}

// Copy every page to the filter, marking the photo pages six-ink.
int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);
  // The filter stopping early ends this step by a failed write, not SIGPIPE.
  signal(SIGPIPE, SIG_IGN);

  if (argc != 6 && argc != 7) {
    fputs("ERROR: rastertoinkbands job-id user title copies options [file]\n", stderr);
    return 1;
  }

  RasterInput input = {};
  if (argc == 7) {
    input.fd = open(argv[6], O_RDONLY);
    if (input.fd == -1) {
      fprintf(stderr, "ERROR: Unable to open raster file - %s\n", strerror(errno));
      return 1;
    }
  }

  // The rasterizer writes a line of tens of kilobytes at a time: a pipe of
  // a megabyte from it (the filter grows the one after this step) saves
  // both sides a wait and a wake-up for nearly every line.
  (void)fcntl(input.fd, F_SETPIPE_SZ, 1 << 20);

  bool photo = JobWantsLightInks(argv[5]);
  fprintf(stderr, "DEBUG: rastertoinkbands: %s inks\n", photo ? "light" : "the page's own");

  input.sync_length = ReadFull(input.fd, input.sync, sizeof(input.sync));
  uint32_t sync = 0;
  memcpy(&sync, input.sync, sizeof(sync));
  int page = 0;
  Copy sent;
  if (input.sync_length < sizeof(input.sync))
    sent = WriteAll(input.sync, input.sync_length);  // no raster: the filter says so
  else if (sync == CUPS_RASTER_SYNCv1 || sync == CUPS_RASTER_SYNC)
    sent = PassPages(&input, photo, &page);
  else if (sync == CUPS_RASTER_REVSYNCv1 || sync == CUPS_RASTER_REVSYNC ||
           sync == CUPS_RASTER_SYNCv2 || sync == CUPS_RASTER_REVSYNCv2 ||
           sync == CUPS_RASTER_SYNCapple || sync == CUPS_RASTER_REVSYNCapple)
    sent = RewritePages(&input, photo, &page);
  else {
    // Not raster: passed on as it came, for the filter to refuse.
    sent = WriteAll(input.sync, input.sync_length);
    if (sent == Copy::Done && MovePixels(input.fd, UINT64_MAX) == Copy::InputEnded)
      sent = Copy::Done;
  }
  int error = errno;
  if (input.fd > 0) close(input.fd);

  switch (sent) {
  case Copy::Failed:
    fprintf(stderr, "ERROR: Unable to send raster data to the printer driver - %s\n",
            strerror(error));
    return 1;
  case Copy::FilterGone:
    // The filter stopped reading and has said why.
    fprintf(stderr, "DEBUG: rastertoinkbands: the filter stopped reading on page %d\n", page);
    return 0;
  case Copy::InputEnded:
    // The filter sees the page end early and tells the user.
    fprintf(stderr, "DEBUG: rastertoinkbands: the data ended in page %d\n", page);
    return 0;
  case Copy::Done: break;
  }
  fprintf(stderr, "DEBUG: rastertoinkbands: %d page(s)\n", page);
  return 0;
}
