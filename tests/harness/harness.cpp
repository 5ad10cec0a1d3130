// Test harness: raster streams written through libcups, PPD fixtures, and a
// runner for the built filter binary.
#include "harness.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace harness {
namespace {

// Fewest hex digits of a printed pointer (heap and stack addresses have
// eight or more).
const size_t kPointerDigits = 6;

// A filter run that takes longer than this is hung, not slow.
const int kRunTimeoutSeconds = 60;

// A harness misuse (bad hex in a table, a file that cannot be written) is a
// broken test, not a failing filter: stop loudly.
[[noreturn]] void Fatal(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  fprintf(stderr, "harness: ");
  vfprintf(stderr, format, ap);
  fprintf(stderr, "\n");
  va_end(ap);
  abort();
}

std::string Format(const char *format, ...) {
  char line[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(line, sizeof(line), format, ap);
  va_end(ap);
  return line;
}

std::vector<std::string> &CreatedFiles() {
  static std::vector<std::string> files;
  return files;
}

// Fixtures go away with the test process unless INKBANDS_KEEP_TMP is set,
// so that a failing run can be replayed by hand.
void RemoveCreatedFiles() {
  if (getenv("INKBANDS_KEEP_TMP")) return;
  for (const std::string &path : CreatedFiles()) unlink(path.c_str());
}

void MakeDirs(const std::string &path) {
  for (size_t i = 1; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        Fatal("cannot create %s: %s", part.c_str(), strerror(errno));
    }
  }
}

unsigned Le16(const std::string &s, size_t at) {
  if (at + 1 >= s.size()) return 0;
  return (unsigned char)s[at] | ((unsigned char)s[at + 1] << 8);
}

// Bytes of PackBits input that decode to `want` bytes of row data.
size_t PackBitsLength(const std::string &s, size_t at, size_t want) {
  size_t i = at, got = 0;
  while (got < want && i < s.size()) {
    int h = (signed char)s[i++];
    if (h >= 0) {
      i += h + 1;
      got += h + 1;
    } else if (h != -128) {
      i += 1;
      got += 1 - h;
    }
  }
  return i - at;
}

// Length of the raster data after an ESC i or ESC . header.
size_t RasterDataLength(const std::string &s, size_t data, bool compressed,
                        size_t bytes) {
  return compressed ? PackBitsLength(s, data, bytes) : bytes;
}

std::string HexSpan(const std::string &s, size_t begin, size_t end) {
  const size_t kShown = 48;
  std::string text = ToHex(s.substr(begin, std::min(end - begin, kShown)));
  if (end - begin > kShown)
    text += Format(" ... (%zu bytes)", end - begin);
  return text;
}

size_t CommandAt(const std::vector<std::pair<size_t, size_t>> &commands,
                 size_t offset) {
  for (size_t k = 0; k < commands.size(); k++)
    if (offset < commands[k].second) return k;
  return commands.size();
}

}  // namespace

unsigned PlanesOf(cups_cspace_t space) {
  switch (space) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_K:
    case CUPS_CSPACE_WHITE:
    case CUPS_CSPACE_GOLD:
    case CUPS_CSPACE_SILVER:
    case CUPS_CSPACE_SW:
      return 1;
    case CUPS_CSPACE_RGBA:
    case CUPS_CSPACE_RGBW:
    case CUPS_CSPACE_CMYK:
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_KCMY:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
      return 4;
    case CUPS_CSPACE_KCMYcm:
      return 6;
    default:
      return 3;
  }
}

void FixLineSize(cups_page_header2_t &header) {
  header.cupsBitsPerPixel = header.cupsBitsPerColor;
  header.cupsBytesPerLine = PlanesOf(header.cupsColorSpace) *
                            ((header.cupsWidth * header.cupsBitsPerColor + 7) / 8);
}

cups_page_header2_t MakeHeader(unsigned width, unsigned height,
                               cups_cspace_t space, unsigned bits,
                               unsigned xdpi, unsigned ydpi) {
  cups_page_header2_t header;
  memset(&header, 0, sizeof(header));
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsColorSpace = space;
  header.cupsColorOrder = CUPS_ORDER_BANDED;
  header.cupsBitsPerColor = bits;
  header.cupsNumColors = PlanesOf(space);
  header.HWResolution[0] = xdpi;
  header.HWResolution[1] = ydpi;
  header.NumCopies = 1;
  if (xdpi) header.PageSize[0] = (width * 72 + xdpi - 1) / xdpi;
  if (ydpi) header.PageSize[1] = (height * 72 + ydpi - 1) / ydpi;
  FixLineSize(header);
  return header;
}

Page MakePage(const cups_page_header2_t &header,
              unsigned char (*fill)(unsigned line, unsigned index)) {
  Page page;
  page.header = header;
  page.data.resize((size_t)header.cupsHeight * header.cupsBytesPerLine);
  for (unsigned y = 0; y < header.cupsHeight; y++)
    for (unsigned i = 0; i < header.cupsBytesPerLine; i++)
      page.data[(size_t)y * header.cupsBytesPerLine + i] = fill(y, i);
  return page;
}

Page BlankPage(const cups_page_header2_t &header) {
  Page page;
  page.header = header;
  page.data.assign((size_t)header.cupsHeight * header.cupsBytesPerLine, 0);
  return page;
}

std::string TempPath(const std::string &suffix) {
  static unsigned counter = 0;
  static bool ready = false;
  if (!ready) {
    // The list must outlive the exit handler that reads it.
    CreatedFiles();
    MakeDirs(INKBANDS_TEST_TMP);
    atexit(RemoveCreatedFiles);
    ready = true;
  }
  std::string path = Format("%s/t%ld-%u.%s", INKBANDS_TEST_TMP, (long)getpid(),
                            counter++, suffix.c_str());
  CreatedFiles().push_back(path);
  return path;
}

std::string WriteFile(const std::string &bytes, const std::string &suffix) {
  std::string path = TempPath(suffix);
  FILE *fp = fopen(path.c_str(), "wb");
  if (!fp) Fatal("cannot write %s: %s", path.c_str(), strerror(errno));
  if (fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() || fclose(fp) != 0)
    Fatal("cannot write %s", path.c_str());
  return path;
}

std::string WriteRaster(const std::vector<Page> &pages, cups_mode_t mode) {
  std::string path = TempPath("ras");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Fatal("cannot write %s: %s", path.c_str(), strerror(errno));
  cups_raster_t *raster = cupsRasterOpen(fd, mode);
  if (!raster) Fatal("cupsRasterOpen failed for %s", path.c_str());
  for (const Page &page : pages) {
    cups_page_header2_t header = page.header;
    if (!cupsRasterWriteHeader2(raster, &header))
      Fatal("cupsRasterWriteHeader2 failed for %s", path.c_str());
    // Line by line, as a producer hands them over; a short last line is
    // written as it is, so that a truncated job stays truncated.
    size_t line = page.header.cupsBytesPerLine;
    for (size_t at = 0; line && at < page.data.size(); at += line) {
      size_t n = std::min(line, page.data.size() - at);
      std::vector<unsigned char> chunk(page.data.begin() + at,
                                       page.data.begin() + at + n);
      if (cupsRasterWritePixels(raster, chunk.data(), (unsigned)n) != n)
        Fatal("cupsRasterWritePixels failed for %s", path.c_str());
    }
  }
  cupsRasterClose(raster);
  close(fd);
  return path;
}

std::vector<Page> ReadRaster(const std::string &path) {
  std::vector<Page> pages;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (raster) {
    Page page;
    while (cupsRasterReadHeader2(raster, &page.header)) {
      page.data.assign((size_t)page.header.cupsHeight * page.header.cupsBytesPerLine, 0);
      for (unsigned y = 0; y < page.header.cupsHeight; y++)
        cupsRasterReadPixels(raster,
                             page.data.data() + (size_t)y * page.header.cupsBytesPerLine,
                             page.header.cupsBytesPerLine);
      pages.push_back(page);
    }
    cupsRasterClose(raster);
  }
  close(fd);
  return pages;
}

std::vector<PpdSize> DefaultSizes() {
  return {
      {"A4", 595, 842, 18, 36, 577, 833.5},
      {"Letter", 612, 792, 18, 36, 594, 783.5},
  };
}

std::string WritePpd(int model, const std::vector<PpdSize> &sizes) {
  std::string text =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"INKTEST.PPD\"\n"
      "*Manufacturer: \"Inkbands\"\n"
      "*Product: \"(Inkbands Test Printer)\"\n"
      "*ModelName: \"Inkbands Test Printer\"\n"
      "*NickName: \"Inkbands Test Printer\"\n"
      "*ShortNickName: \"Inkbands Test Printer\"\n"
      "*cupsVersion: 2.4\n";
  text += Format("*cupsModelNumber: %d\n", model);
  text += "*cupsFilter: \"application/vnd.cups-raster 100 inkbands\"\n";
  if (!sizes.empty()) {
    const char *first = sizes[0].name.c_str();
    text += "*OpenUI *PageSize/Media Size: PickOne\n"
            "*OrderDependency: 10 AnySetup *PageSize\n";
    text += Format("*DefaultPageSize: %s\n", first);
    for (const PpdSize &s : sizes)
      text += Format("*PageSize %s/%s: \"<</PageSize[%g %g]/ImagingBBox null>>setpagedevice\"\n",
                     s.name.c_str(), s.name.c_str(), s.width, s.length);
    text += "*CloseUI: *PageSize\n"
            "*OpenUI *PageRegion: PickOne\n"
            "*OrderDependency: 10 AnySetup *PageRegion\n";
    text += Format("*DefaultPageRegion: %s\n", first);
    for (const PpdSize &s : sizes)
      text += Format("*PageRegion %s/%s: \"<</PageSize[%g %g]/ImagingBBox null>>setpagedevice\"\n",
                     s.name.c_str(), s.name.c_str(), s.width, s.length);
    text += "*CloseUI: *PageRegion\n";
    text += Format("*DefaultImageableArea: %s\n", first);
    for (const PpdSize &s : sizes)
      text += Format("*ImageableArea %s/%s: \"%g %g %g %g\"\n", s.name.c_str(),
                     s.name.c_str(), s.left, s.bottom, s.right, s.top);
    text += Format("*DefaultPaperDimension: %s\n", first);
    for (const PpdSize &s : sizes)
      text += Format("*PaperDimension %s/%s: \"%g %g\"\n", s.name.c_str(),
                     s.name.c_str(), s.width, s.length);
  }
  return WriteFile(text, "ppd");
}

TestPage DescribePage(const std::string &words) {
  TestPage page;
  page.family = 4;
  unsigned width = 16, height = 1, bits = 1, xdpi = 720, ydpi = 720;
  cups_cspace_t space = CUPS_CSPACE_K;
  std::vector<std::pair<std::string, std::string>> settings;
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    std::string word = words.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    size_t eq = word.find('=');
    if (eq == std::string::npos) Fatal("no value in \"%s\"", word.c_str());
    settings.emplace_back(word.substr(0, eq), word.substr(eq + 1));
  }
  auto number = [](const std::string &text) {
    return (unsigned)strtoul(text.c_str(), nullptr, 0);
  };
  auto pair = [&](const std::string &text, char sep, unsigned &a, unsigned &b) {
    size_t cut = text.find(sep);
    if (cut == std::string::npos) Fatal("bad pair \"%s\"", text.c_str());
    a = number(text.substr(0, cut));
    b = number(text.substr(cut + 1));
  };
  // Geometry first: the header is made from it, the rest is set on top.
  for (const auto &s : settings) {
    if (s.first == "w") width = number(s.second);
    else if (s.first == "h") height = number(s.second);
    else if (s.first == "bits") bits = number(s.second);
    else if (s.first == "res") pair(s.second, 'x', xdpi, ydpi);
    else if (s.first == "space") {
      if (s.second == "K") space = CUPS_CSPACE_K;
      else if (s.second == "CMY") space = CUPS_CSPACE_CMY;
      else if (s.second == "RGB") space = CUPS_CSPACE_RGB;
      else if (s.second == "KCMY") space = CUPS_CSPACE_KCMY;
      else if (s.second == "KCMYcm") space = CUPS_CSPACE_KCMYcm;
      else Fatal("unknown colour space \"%s\"", s.second.c_str());
    }
  }
  page.header = MakeHeader(width, height, space, bits, xdpi, ydpi);
  cups_page_header2_t &h = page.header;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  page.sizes = DefaultSizes();
  for (const auto &s : settings) {
    const std::string &key = s.first, &value = s.second;
    if (key == "fam") page.family = (int)strtol(value.c_str(), nullptr, 0);
    else if (key == "comp") h.cupsCompression = number(value);
    else if (key == "media") snprintf(h.MediaType, sizeof(h.MediaType), "%s", value.c_str());
    else if (key == "mtype") h.cupsMediaType = number(value);
    else if (key == "pos") h.MediaPosition = number(value);
    else if (key == "cut") h.CutMedia = (cups_cut_t)number(value);
    else if (key == "copies") h.NumCopies = number(value);
    else if (key == "size") pair(value, 'x', h.PageSize[0], h.PageSize[1]);
    else if (key == "weave") {
      size_t a = value.find('/'), b = value.rfind('/');
      if (a == std::string::npos || a == b) Fatal("bad weave \"%s\"", value.c_str());
      h.cupsRowCount = number(value.substr(0, a));
      h.cupsRowFeed = number(value.substr(a + 1, b - a - 1));
      h.cupsRowStep = number(value.substr(b + 1));
    } else if (key == "ppd") {
      const PpdSize a4 = {"A4", 595, 842, 18, 36, 577, 833.5};
      const PpdSize letter = {"Letter", 612, 792, 18, 36, 594, 783.5};
      if (value == "default") page.sizes = {a4, letter};
      else if (value == "low") page.sizes = {{"A4", 595, 842, 18, 35.9f, 577, 833.5}, letter};
      else if (value == "lowsecond") page.sizes = {a4, {"Letter", 612, 792, 18, 0, 594, 783.5}};
      else if (value == "one") page.sizes = {a4};
      else if (value == "onelow") page.sizes = {{"A4", 595, 842, 18, 10, 577, 833.5}};
      else if (value == "none") page.sizes = {};
      else if (value == "tall") page.sizes = {a4, {"Letter", 612, 792, 18, 36, 594, 800}};
      else if (value == "three") page.sizes = {a4, {"Legal", 612, 1008, 18, 36, 594, 990}, letter};
      else if (value == "deep") page.sizes = {a4, {"Letter", 612, 99999999.0f, 18, 36, 594, 783.5}};
      else Fatal("unknown PPD sizes \"%s\"", value.c_str());
    } else if (key != "w" && key != "h" && key != "bits" && key != "res" && key != "space") {
      Fatal("unknown page setting \"%s\"", key.c_str());
    }
  }
  return page;
}

Result RunFilterArgs(const std::vector<std::string> &args,
                     const std::string &ppd, const std::string &stdin_path,
                     const SlowPrinter *printer, const char *binary) {
  Result result;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  // The filter gets the test's environment with PPD replaced.
  std::string ppd_entry = "PPD=" + ppd;
  std::vector<char *> envp;
  for (char **e = environ; *e; e++)
    if (strncmp(*e, "PPD=", 4) != 0) envp.push_back(*e);
  if (!ppd.empty()) envp.push_back(const_cast<char *>(ppd_entry.c_str()));
  envp.push_back(nullptr);

  std::string input = stdin_path.empty() || stdin_path == kClosedInput ? "/dev/null" : stdin_path;
  int in = open(input.c_str(), O_RDONLY);
  if (in < 0) Fatal("cannot open %s: %s", input.c_str(), strerror(errno));
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) Fatal("pipe: %s", strerror(errno));

  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) Fatal("fork: %s", strerror(errno));
  if (pid == 0) {
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(in);
    if (stdin_path == kClosedInput) close(0);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    execve(binary, argv.data(), envp.data());
    dprintf(2, "harness: cannot run %s: %s\n", binary, strerror(errno));
    _exit(127);
  }
  close(in);
  close(out[1]);
  close(err[1]);

  // Drain both pipes together so that neither side blocks on a full pipe.
  std::string error_text;
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &error_text};
  int open_pipes = 2;
  time_t deadline = time(nullptr) + kRunTimeoutSeconds;
  bool timed_out = false, signalled = false;
  while (open_pipes > 0) {
    int left = (int)(deadline - time(nullptr));
    if (left <= 0) {
      timed_out = true;
      break;
    }
    int ready = poll(fds, 2, left * 1000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    for (int k = 0; k < 2; k++) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      size_t want = k == 0 && printer ? std::min(printer->chunk, sizeof(buffer)) : sizeof(buffer);
      ssize_t n = read(fds[k].fd, buffer, want);
      if (n > 0) {
        sinks[k]->append(buffer, (size_t)n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
        open_pipes--;
      }
      if (k == 0 && printer && n > 0) {
        if (!signalled && result.out.size() >= printer->signal_after) {
          kill(pid, printer->signal);
          signalled = true;
        }
        usleep(printer->pause_us);
      }
    }
  }
  if (timed_out) {
    kill(pid, SIGKILL);
    for (int k = 0; k < 2; k++)
      if (fds[k].fd >= 0) close(fds[k].fd);
    error_text += Format("harness: filter killed after %d s\n", kRunTimeoutSeconds);
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);

  size_t start = 0;
  while (start < error_text.size()) {
    size_t end = error_text.find('\n', start);
    if (end == std::string::npos) end = error_text.size();
    result.err.push_back(error_text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

Result RunFilter(const std::string &ppd, const std::string &raster,
                 const std::string &stdin_path) {
  std::vector<std::string> args = {"inkbands", "1", "tester", "inkbands test", "1", ""};
  if (!raster.empty()) args.push_back(raster);
  return RunFilterArgs(args, ppd, stdin_path);
}

std::string Hex(const std::string &text) {
  std::string bytes;
  size_t i = 0;
  auto digit = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\n' || c == '\t' || c == '|' || c == ',') {
      i++;
      continue;
    }
    if (c == '*') {
      // A repeat count applies to the byte just read.
      size_t j = i + 1;
      unsigned count = 0;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9')
        count = count * 10 + (text[j++] - '0');
      if (j == i + 1 || bytes.empty()) Fatal("bad repeat in hex \"%s\"", text.c_str());
      bytes.append(count - 1, bytes.back());
      i = j;
      continue;
    }
    if (i + 1 >= text.size() || digit(c) < 0 || digit(text[i + 1]) < 0)
      Fatal("bad hex at %zu in \"%s\"", i, text.c_str());
    bytes.push_back((char)(digit(c) * 16 + digit(text[i + 1])));
    i += 2;
  }
  return bytes;
}

std::string ToHex(const std::string &bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (i) text += ' ';
    text += Format("%02x", (unsigned char)bytes[i]);
  }
  return text;
}

std::vector<std::pair<size_t, size_t>> SplitCommands(const std::string &s) {
  std::vector<std::pair<size_t, size_t>> commands;
  bool remote = false;
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = s[i];
    size_t len = 1;
    if (remote) {
      // Inside remote mode: two letters, a 16-bit length, the parameters,
      // until ESC 00 00 00 leaves it.
      if (c == 0x1b) {
        len = 4;
        remote = false;
      } else {
        len = 4 + Le16(s, i + 2);
      }
    } else if (c == 0x1b && i + 1 < n) {
      unsigned char d = s[i + 1];
      switch (d) {
        case '(':
          len = 5 + Le16(s, i + 3);
          if (i + 2 < n && s[i + 2] == 'R') remote = true;
          break;
        case 'U':
        case 'r':
          len = 3;
          break;
        case '\\':
          len = 4;
          break;
        case 'i': {  // ESC i colour compression bits bytes(16) rows(16)
          size_t bytes = (size_t)Le16(s, i + 5) * Le16(s, i + 7);
          len = 9 + (i + 9 <= n ? RasterDataLength(s, i + 9, i + 3 < n && s[i + 3], bytes) : 0);
          break;
        }
        case '.': {  // ESC . compression v h rows dots(16)
          size_t bytes = (size_t)(i + 5 < n ? (unsigned char)s[i + 5] : 0) *
                         ((Le16(s, i + 6) + 7) / 8);
          len = 8 + (i + 8 <= n ? RasterDataLength(s, i + 8, i + 2 < n && s[i + 2], bytes) : 0);
          break;
        }
        case 0:  // ESC and a run of NULs
          len = 2;
          while (i + len < n && s[i + len] == 0) len++;
          break;
        default:
          len = 2;
      }
    } else if (c == 0) {
      while (i + len < n && s[i + len] == 0) len++;
    } else if (c == '@') {
      // An Epson job-language line runs to its line feed.
      size_t end = s.find('\n', i);
      len = (end == std::string::npos ? n : end + 1) - i;
    }
    size_t end = std::min(n, i + len);
    commands.emplace_back(i, end);
    i = end;
  }
  return commands;
}

std::string DiffStreams(const std::string &want, const std::string &got) {
  if (want == got) return "";
  size_t d = 0;
  while (d < want.size() && d < got.size() && want[d] == got[d]) d++;
  auto want_cmds = SplitCommands(want);
  auto got_cmds = SplitCommands(got);
  size_t kw = CommandAt(want_cmds, d), kg = CommandAt(got_cmds, d);
  std::string text = Format("streams differ at byte %zu (want %zu bytes, got %zu bytes)\n",
                            d, want.size(), got.size());
  if (kw > 0 && kw == kg && kw <= want_cmds.size() &&
      want_cmds[kw - 1] == got_cmds[kg - 1])
    text += "  after command: " + HexSpan(want, want_cmds[kw - 1].first,
                                          want_cmds[kw - 1].second) + "\n";
  text += Format("  want command #%zu: ", kw);
  text += kw < want_cmds.size()
              ? HexSpan(want, want_cmds[kw].first, want_cmds[kw].second)
              : std::string("(end of stream)");
  text += Format("\n  got command #%zu:  ", kg);
  text += kg < got_cmds.size() ? HexSpan(got, got_cmds[kg].first, got_cmds[kg].second)
                               : std::string("(end of stream)");
  text += "\n";
  return text;
}

std::vector<std::string> MaskPointers(const std::vector<std::string> &lines) {
  auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  std::vector<std::string> masked;
  for (const std::string &line : lines) {
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
      // An address has many digits; "0x720" in a resolution is no pointer.
      size_t digits = 0;
      if (line[i] == '0' && i + 1 < line.size() && line[i + 1] == 'x' &&
          (i == 0 || !isalnum((unsigned char)line[i - 1])))
        while (i + 2 + digits < line.size() && is_hex(line[i + 2 + digits])) digits++;
      if (digits >= kPointerDigits) {
        i += 2 + digits;
        out += "PTR";
      } else {
        out += line[i++];
      }
    }
    masked.push_back(out);
  }
  return masked;
}

std::string DiffLines(const std::vector<std::string> &want,
                      const std::vector<std::string> &got) {
  if (want == got) return "";
  size_t k = 0;
  while (k < want.size() && k < got.size() && want[k] == got[k]) k++;
  std::string text = Format("standard error differs at line %zu (want %zu lines, got %zu)\n",
                            k + 1, want.size(), got.size());
  if (k > 0) text += "  after: " + want[k - 1] + "\n";
  text += "  want:  " + (k < want.size() ? want[k] : std::string("(no more lines)")) + "\n";
  text += "  got:   " + (k < got.size() ? got[k] : std::string("(no more lines)")) + "\n";
  return text;
}

std::vector<std::string> HeaderDump(const cups_page_header2_t &h) {
  return {
      "DEBUG: StartPage...",
      Format("DEBUG: MediaClass = \"%s\"", h.MediaClass),
      Format("DEBUG: MediaColor = \"%s\"", h.MediaColor),
      Format("DEBUG: MediaType = \"%s\"", h.MediaType),
      Format("DEBUG: OutputType = \"%s\"", h.OutputType),
      Format("DEBUG: AdvanceDistance = %d", (int)h.AdvanceDistance),
      Format("DEBUG: AdvanceMedia = %d", (int)h.AdvanceMedia),
      Format("DEBUG: Collate = %d", (int)h.Collate),
      Format("DEBUG: CutMedia = %d", (int)h.CutMedia),
      Format("DEBUG: Duplex = %d", (int)h.Duplex),
      Format("DEBUG: HWResolution = [ %d %d ]", (int)h.HWResolution[0], (int)h.HWResolution[1]),
      Format("DEBUG: ImagingBoundingBox = [ %d %d %d %d ]", (int)h.ImagingBoundingBox[0],
             (int)h.ImagingBoundingBox[1], (int)h.ImagingBoundingBox[2],
             (int)h.ImagingBoundingBox[3]),
      Format("DEBUG: InsertSheet = %d", (int)h.InsertSheet),
      Format("DEBUG: Jog = %d", (int)h.Jog),
      Format("DEBUG: LeadingEdge = %d", (int)h.LeadingEdge),
      Format("DEBUG: Margins = [ %d %d ]", (int)h.Margins[0], (int)h.Margins[1]),
      Format("DEBUG: ManualFeed = %d", (int)h.ManualFeed),
      Format("DEBUG: MediaPosition = %d", (int)h.MediaPosition),
      Format("DEBUG: MediaWeight = %d", (int)h.MediaWeight),
      Format("DEBUG: MirrorPrint = %d", (int)h.MirrorPrint),
      Format("DEBUG: NegativePrint = %d", (int)h.NegativePrint),
      Format("DEBUG: NumCopies = %d", (int)h.NumCopies),
      Format("DEBUG: Orientation = %d", (int)h.Orientation),
      Format("DEBUG: OutputFaceUp = %d", (int)h.OutputFaceUp),
      Format("DEBUG: PageSize = [ %d %d ]", (int)h.PageSize[0], (int)h.PageSize[1]),
      Format("DEBUG: Separations = %d", (int)h.Separations),
      Format("DEBUG: TraySwitch = %d", (int)h.TraySwitch),
      Format("DEBUG: Tumble = %d", (int)h.Tumble),
      Format("DEBUG: cupsWidth = %d", (int)h.cupsWidth),
      Format("DEBUG: cupsHeight = %d", (int)h.cupsHeight),
      Format("DEBUG: cupsMediaType = %d", (int)h.cupsMediaType),
      Format("DEBUG: cupsBitsPerColor = %d", (int)h.cupsBitsPerColor),
      Format("DEBUG: cupsBitsPerPixel = %d", (int)h.cupsBitsPerPixel),
      Format("DEBUG: cupsBytesPerLine = %d", (int)h.cupsBytesPerLine),
      Format("DEBUG: cupsColorOrder = %d", (int)h.cupsColorOrder),
      Format("DEBUG: cupsColorSpace = %d", (int)h.cupsColorSpace),
      Format("DEBUG: cupsCompression = %d", (int)h.cupsCompression),
      Format("DEBUG: cupsRowCount = %d", (int)h.cupsRowCount),
      Format("DEBUG: cupsRowFeed = %d", (int)h.cupsRowFeed),
      Format("DEBUG: cupsRowStep = %d", (int)h.cupsRowStep),
  };
}

std::vector<std::string> LutDump(const std::vector<LutRun> &runs) {
  int level[256] = {0}, error[256] = {0};
  for (const LutRun &run : runs)
    for (int j = run.first; j <= run.last; j++) {
      level[j] = run.level;
      error[j] = j == 0 ? 0 : j - run.value;
    }
  std::vector<std::string> lines;
  for (int row = 0; row < 32; row++) {
    std::string line = "DEBUG:";
    for (int j = row * 8; j < row * 8 + 8; j++) line += Format(" [%d %d]", level[j], error[j]);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace harness
