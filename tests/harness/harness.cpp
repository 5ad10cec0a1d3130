// Test harness: raster streams written through libcups, PPD fixtures, and a
// runner for the built filter binary.
#include "harness.h"

#include <sys/resource.h>

#include "preview.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
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
[[noreturn]] void Fatal(const char *format, ...)
{
  va_list ap;
  va_start(ap, format);
  fprintf(stderr, "harness: ");
  vfprintf(stderr, format, ap);
  fprintf(stderr, "\n");
  va_end(ap);
  abort();
}

using preview::Say;

std::vector<std::string> &CreatedFiles()
{
  static std::vector<std::string> files;
  return files;
}

// Fixtures go away with the test process unless INKBANDS_KEEP_TMP is set,
// so that a failing run can be replayed by hand.
void RemoveCreatedFiles()
{
  if (getenv("INKBANDS_KEEP_TMP")) return;
  for (const std::string &path : CreatedFiles()) unlink(path.c_str());
}

void MakeDirs(const std::string &path)
{
  for (size_t i = 1; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        Fatal("cannot create %s: %s", part.c_str(), strerror(errno));
    }
  }
}

// Peak memory and no more: the filter's own needs are a few tens of MB, and
// a page that would take gigabytes fails to get them. (AddressSanitizer
// reserves terabytes up front, so there each allocation is capped instead.)
const rlim_t kAddressSpace = 768ull << 20;
const char kSanitizerCap[] = "max_allocation_size_mb=128:allocator_may_return_null=1";

#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
#else
const bool kSanitized = false;
#endif

// The command of a list that holds a byte offset.
size_t CommandAt(const std::vector<preview::Command> &commands, size_t offset)
{
  for (size_t k = 0; k < commands.size(); k++)
    if (offset < commands[k].offset + commands[k].length) return k;
  return commands.size();
}

// A command's words, with its bytes when it is short enough to read them.
std::string Shown(const std::vector<preview::Command> &commands, size_t k,
                  const std::string &stream)
{
  if (k >= commands.size()) return "(end of stream)";
  const preview::Command &c = commands[k];
  std::string text = c.words;
  if (c.length > 5 && c.length <= 48)
    text += "  [" + ToHex(stream.substr(c.offset, c.length)) + "]";
  return text;
}

}  // namespace

unsigned PlanesOf(cups_cspace_t space)
{
  switch (space) {
  case CUPS_CSPACE_W:
  case CUPS_CSPACE_K:
  case CUPS_CSPACE_WHITE:
  case CUPS_CSPACE_GOLD:
  case CUPS_CSPACE_SILVER:
  case CUPS_CSPACE_SW: return 1;
  case CUPS_CSPACE_RGBA:
  case CUPS_CSPACE_RGBW:
  case CUPS_CSPACE_CMYK:
  case CUPS_CSPACE_YMCK:
  case CUPS_CSPACE_KCMY:
  case CUPS_CSPACE_GMCK:
  case CUPS_CSPACE_GMCS: return 4;
  case CUPS_CSPACE_KCMYcm: return 6;
  default: return 3;
  }
}

void FixLineSize(cups_page_header2_t &header)
{
  header.cupsBitsPerPixel = header.cupsBitsPerColor;
  header.cupsBytesPerLine =
      PlanesOf(header.cupsColorSpace) * ((header.cupsWidth * header.cupsBitsPerColor + 7) / 8);
}

cups_page_header2_t MakeHeader(unsigned width, unsigned height, cups_cspace_t space, unsigned bits,
                               unsigned xdpi, unsigned ydpi)
{
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
              unsigned char (*fill)(unsigned line, unsigned index))
{
  Page page;
  page.header = header;
  page.data.resize((size_t)header.cupsHeight * header.cupsBytesPerLine);
  for (unsigned y = 0; y < header.cupsHeight; y++)
    for (unsigned i = 0; i < header.cupsBytesPerLine; i++)
      page.data[(size_t)y * header.cupsBytesPerLine + i] = fill(y, i);
  return page;
}

Page BlankPage(const cups_page_header2_t &header)
{
  Page page;
  page.header = header;
  page.data.assign((size_t)header.cupsHeight * header.cupsBytesPerLine, 0);
  return page;
}

std::string TempPath(const std::string &suffix)
{
  static unsigned counter = 0;
  static bool ready = false;
  if (!ready) {
    // The list must outlive the exit handler that reads it.
    CreatedFiles();
    MakeDirs(INKBANDS_TEST_TMP);
    atexit(RemoveCreatedFiles);
    ready = true;
  }
  std::string path =
      Say("%s/t%ld-%u.%s", INKBANDS_TEST_TMP, (long)getpid(), counter++, suffix.c_str());
  CreatedFiles().push_back(path);
  return path;
}

std::string ReadFile(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WriteFile(const std::string &bytes, const std::string &suffix)
{
  std::string path = TempPath(suffix);
  FILE *fp = fopen(path.c_str(), "wb");
  if (!fp) Fatal("cannot write %s: %s", path.c_str(), strerror(errno));
  if (fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() || fclose(fp) != 0)
    Fatal("cannot write %s", path.c_str());
  return path;
}

std::string WriteRaster(const std::vector<Page> &pages, cups_mode_t mode)
{
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
      std::vector<unsigned char> chunk(page.data.begin() + at, page.data.begin() + at + n);
      if (cupsRasterWritePixels(raster, chunk.data(), (unsigned)n) != n)
        Fatal("cupsRasterWritePixels failed for %s", path.c_str());
    }
  }
  cupsRasterClose(raster);
  close(fd);
  return path;
}

std::vector<Page> ReadRaster(const std::string &path)
{
  std::vector<Page> pages;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (raster) {
    Page page;
    while (cupsRasterReadHeader2(raster, &page.header)) {
      page.data.assign((size_t)page.header.cupsHeight * page.header.cupsBytesPerLine, 0);
      for (unsigned y = 0; y < page.header.cupsHeight; y++)
        cupsRasterReadPixels(raster, page.data.data() + (size_t)y * page.header.cupsBytesPerLine,
                             page.header.cupsBytesPerLine);
      pages.push_back(page);
    }
    cupsRasterClose(raster);
  }
  close(fd);
  return pages;
}

std::vector<PpdSize> DefaultSizes()
{
  return {
      {"A4", 595, 842, 18, 36, 577, 833.5},
      {"Letter", 612, 792, 18, 36, 594, 783.5},
  };
}

std::string WritePpd(int model, const std::vector<PpdSize> &sizes)
{
  return WriteFile(PpdText(model, sizes), "ppd");
}

TestPage DescribePage(const std::string &words)
{
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
  auto number = [](const std::string &text) { return (unsigned)strtoul(text.c_str(), nullptr, 0); };
  auto pair = [&](const std::string &text, char sep, unsigned &a, unsigned &b) {
    size_t cut = text.find(sep);
    if (cut == std::string::npos) Fatal("bad pair \"%s\"", text.c_str());
    a = number(text.substr(0, cut));
    b = number(text.substr(cut + 1));
  };
  // Geometry first: the header is made from it, the rest is set on top.
  for (const auto &s : settings) {
    if (s.first == "w")
      width = number(s.second);
    else if (s.first == "h")
      height = number(s.second);
    else if (s.first == "bits")
      bits = number(s.second);
    else if (s.first == "res")
      pair(s.second, 'x', xdpi, ydpi);
    else if (s.first == "space") {
      if (s.second == "K")
        space = CUPS_CSPACE_K;
      else if (s.second == "CMY")
        space = CUPS_CSPACE_CMY;
      else if (s.second == "RGB")
        space = CUPS_CSPACE_RGB;
      else if (s.second == "KCMY")
        space = CUPS_CSPACE_KCMY;
      else if (s.second == "KCMYcm")
        space = CUPS_CSPACE_KCMYcm;
      else
        Fatal("unknown colour space \"%s\"", s.second.c_str());
    }
  }
  page.header = MakeHeader(width, height, space, bits, xdpi, ydpi);
  cups_page_header2_t &h = page.header;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  page.sizes = DefaultSizes();
  for (const auto &s : settings) {
    const std::string &key = s.first, &value = s.second;
    if (key == "fam")
      page.family = (int)strtol(value.c_str(), nullptr, 0);
    else if (key == "comp")
      h.cupsCompression = number(value);
    else if (key == "media")
      snprintf(h.MediaType, sizeof(h.MediaType), "%s", value.c_str());
    else if (key == "mtype")
      h.cupsMediaType = number(value);
    else if (key == "pos")
      h.MediaPosition = number(value);
    else if (key == "cut")
      h.CutMedia = (cups_cut_t)number(value);
    else if (key == "copies")
      h.NumCopies = number(value);
    else if (key == "bpl")
      h.cupsBytesPerLine = number(value);
    else if (key == "bpp")
      h.cupsBitsPerPixel = number(value);
    else if (key == "order")
      h.cupsColorOrder = (cups_order_t)number(value);
    else if (key == "size")
      pair(value, 'x', h.PageSize[0], h.PageSize[1]);
    else if (key == "weave") {
      size_t a = value.find('/'), b = value.rfind('/');
      if (a == std::string::npos || a == b) Fatal("bad weave \"%s\"", value.c_str());
      h.cupsRowCount = number(value.substr(0, a));
      h.cupsRowFeed = number(value.substr(a + 1, b - a - 1));
      h.cupsRowStep = number(value.substr(b + 1));
    } else if (key == "ppd") {
      const PpdSize a4 = {"A4", 595, 842, 18, 36, 577, 833.5};
      const PpdSize letter = {"Letter", 612, 792, 18, 36, 594, 783.5};
      if (value == "default")
        page.sizes = {a4, letter};
      else if (value == "low")
        page.sizes = {{"A4", 595, 842, 18, 35.9f, 577, 833.5}, letter};
      else if (value == "lowsecond")
        page.sizes = {a4, {"Letter", 612, 792, 18, 0, 594, 783.5}};
      else if (value == "one")
        page.sizes = {a4};
      else if (value == "onelow")
        page.sizes = {{"A4", 595, 842, 18, 10, 577, 833.5}};
      else if (value == "none")
        page.sizes = {};
      else if (value == "tall")
        page.sizes = {a4, {"Letter", 612, 792, 18, 36, 594, 800}};
      else if (value == "three")
        page.sizes = {a4, {"Legal", 612, 1008, 18, 36, 594, 990}, letter};
      else if (value == "deep")
        page.sizes = {a4, {"Letter", 612, 99999999.0f, 18, 36, 594, 783.5}};
      else
        Fatal("unknown PPD sizes \"%s\"", value.c_str());
    } else if (key != "w" && key != "h" && key != "bits" && key != "res" && key != "space") {
      Fatal("unknown page setting \"%s\"", key.c_str());
    }
  }
  return page;
}

Result RunFilter(const Run &run)
{
  Result result;
  std::vector<std::string> args = run.args;
  if (args.empty()) {
    args = {"inkbands", "1", "tester", "inkbands test", "1", ""};
    if (!run.raster.empty()) args.push_back(run.raster);
  }
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  // The filter gets the test's environment with PPD replaced and the run's
  // own entries added; a bounded run caps each allocation under a sanitizer.
  std::vector<std::string> env_text;
  std::string asan = run.bounded ? kSanitizerCap : "";
  for (char **e = environ; *e; e++) {
    if (strncmp(*e, "PPD=", 4) == 0) continue;
    // The run's own settings replace the test's.
    const char *equals = strchr(*e, '=');
    size_t name = equals ? (size_t)(equals - *e + 1) : strlen(*e);
    bool replaced = false;
    for (const std::string &mine : run.env) replaced |= mine.compare(0, name, *e, name) == 0;
    if (replaced) continue;
    if (run.bounded && strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
      asan = std::string(*e + 13) + ":" + asan;
      continue;
    }
    env_text.push_back(*e);
  }
  if (!asan.empty()) env_text.push_back("ASAN_OPTIONS=" + asan);
  if (!run.ppd.empty()) env_text.push_back("PPD=" + run.ppd);
  env_text.insert(env_text.end(), run.env.begin(), run.env.end());
  std::vector<char *> envp;
  for (std::string &e : env_text) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  std::string input = run.input.empty() || run.input == kClosedInput ? "/dev/null" : run.input;
  int in = open(input.c_str(), O_RDONLY);
  if (in < 0) Fatal("cannot open %s: %s", input.c_str(), strerror(errno));
  pid_t feeder = -1;
  if (run.piped) {
    // A child writes the input into a pipe, as the filter before this one would.
    int feed[2];
    if (pipe(feed) != 0 || (feeder = fork()) < 0) Fatal("feeding a pipe: %s", strerror(errno));
    if (feeder == 0) {
      close(feed[0]);
      char buffer[65536];
      ssize_t n;
      while ((n = read(in, buffer, sizeof(buffer))) > 0)
        if (write(feed[1], buffer, (size_t)n) != n) break;
      _exit(0);
    }
    close(feed[1]);
    close(in);
    in = feed[0];
  }
  int out[2] = {-1, -1}, err[2];
  if (pipe(err) != 0 || (run.device != Device::kFull && pipe(out) != 0))
    Fatal("pipe: %s", strerror(errno));
  if (run.device == Device::kGone) {
    close(out[0]);  // nobody will ever read the printer data
    out[0] = -1;
  }

  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) Fatal("fork: %s", strerror(errno));
  if (pid == 0) {
    int device = run.device == Device::kFull ? open("/dev/full", O_WRONLY) : out[1];
    dup2(in, 0);
    dup2(device, 1);
    dup2(err[1], 2);
    // Only the test's pipe ends go; a back channel on 3 stays for the filter.
    for (int fd : {in, device, out[0], err[0], err[1]})
      if (fd > 2) close(fd);
    if (run.input == kClosedInput) close(0);
    if (run.bounded && !kSanitized) {
      struct rlimit limit = {kAddressSpace, kAddressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    execve(run.binary.c_str(), argv.data(), envp.data());
    dprintf(2, "harness: cannot run %s: %s\n", run.binary.c_str(), strerror(errno));
    _exit(127);
  }
  close(in);
  close(err[1]);
  if (out[1] >= 0) close(out[1]);

  // Drain both pipes together so that neither side blocks on a full pipe.
  std::string error_text;
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &error_text};
  const SlowPrinter *printer = run.slow;
  time_t deadline = time(nullptr) + kRunTimeoutSeconds;
  bool timed_out = false, signalled = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    int left = (int)(deadline - time(nullptr));
    if (left <= 0) {
      timed_out = true;
      break;
    }
    int ready = poll(fds, 2, left * 1000);
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
  for (struct pollfd &f : fds)
    if (f.fd >= 0) close(f.fd);
  if (timed_out) {
    kill(pid, SIGKILL);
    error_text += Say("harness: filter killed after %d s\n", kRunTimeoutSeconds);
  }

  int status = 0;
  struct rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_kb = usage.ru_maxrss;
  if (feeder > 0)
    while (waitpid(feeder, nullptr, 0) < 0 && errno == EINTR) {}

  size_t start = 0;
  while (start < error_text.size()) {
    size_t end = error_text.find('\n', start);
    if (end == std::string::npos) end = error_text.size();
    result.err.push_back(error_text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

std::string Hex(const std::string &text)
{
  // Words first: a quoted text is one word whatever it holds.
  std::vector<std::string> words;
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == ' ' || c == '\n' || c == '\t' || c == ',') {
      i++;
    } else if (c == '|') {
      words.push_back("|");
      i++;
    } else if (c == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string::npos) Fatal("unclosed text in \"%s\"", text.c_str());
      words.push_back(text.substr(i, end + 1 - i));
      i = end + 1;
    } else {
      size_t end = text.find_first_of(" \n\t,|", i);
      if (end == std::string::npos) end = text.size();
      words.push_back(text.substr(i, end - i));
      i = end;
    }
  }
  auto is_hex = [](const std::string &w) {
    return w.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  };
  auto is_remote = [](const std::string &w) {
    return w.size() == 2 && isupper((unsigned char)w[0]) && isupper((unsigned char)w[1]) &&
           w != "FF" && w != "CR";
  };
  std::string bytes;
  size_t length_at = std::string::npos;  // where a counted parameter length goes
  auto close_length = [&]() {
    if (length_at == std::string::npos) return;
    size_t n = bytes.size() - length_at - 2;
    bytes[length_at] = (char)(n & 255);
    bytes[length_at + 1] = (char)(n >> 8);
    length_at = std::string::npos;
  };
  for (size_t k = 0; k < words.size(); k++) {
    const std::string &w = words[k];
    if (w == "|" || w == "ESC" || w == "FF" || w == "CR" || is_remote(w)) close_length();
    if (w == "|") continue;
    if (w == "ESC" && k + 2 < words.size() && words[k + 1] == "(" && words[k + 2].size() == 1) {
      bytes += "\x1b(" + words[k + 2] + std::string(2, '\0');
      length_at = bytes.size() - 2;
      k += 2;
    } else if (is_remote(w)) {
      bytes += w + std::string(2, '\0');
      length_at = bytes.size() - 2;
    } else if (w == "ESC" || w == "FF" || w == "CR") {
      bytes += w == "ESC" ? '\x1b' : w == "FF" ? '\x0c' : '\x0d';
    } else if (w[0] == '"') {
      std::string t = w.substr(1, w.size() - 2);
      for (size_t at; (at = t.find("\\n")) != std::string::npos;) t.replace(at, 2, "\n");
      bytes += t;
    } else if (w.size() == 1) {
      bytes += w;
    } else if (is_hex(w) && (w.size() == 4 || w.size() == 8)) {
      unsigned long v = strtoul(w.c_str(), nullptr, 16);
      for (size_t b = 0; b < w.size() / 2; b++) bytes += (char)((v >> (8 * b)) & 255);
    } else {
      // A byte, or a run of it: "00*27".
      size_t star = w.find('*');
      std::string digits = w.substr(0, star);
      if (digits.size() != 2 || !is_hex(digits))
        Fatal("bad word \"%s\" in \"%s\"", w.c_str(), text.c_str());
      unsigned long count = 1;
      if (star != std::string::npos) {
        char *end = nullptr;
        count = strtoul(w.c_str() + star + 1, &end, 10);
        if (*end || count == 0) Fatal("bad repeat \"%s\" in \"%s\"", w.c_str(), text.c_str());
      }
      bytes.append(count, (char)strtoul(digits.c_str(), nullptr, 16));
    }
  }
  close_length();
  return bytes;
}

std::string ToHex(const std::string &bytes)
{
  std::string text;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (i) text += ' ';
    text += Say("%02x", (unsigned char)bytes[i]);
  }
  return text;
}

std::string DiffStreams(const std::string &want, const std::string &got)
{
  if (want == got) return "";
  size_t d = 0;
  while (d < want.size() && d < got.size() && want[d] == got[d]) d++;
  std::vector<preview::Command> want_cmds = preview::ReadCommands(want);
  std::vector<preview::Command> got_cmds = preview::ReadCommands(got);
  size_t kw = CommandAt(want_cmds, d), kg = CommandAt(got_cmds, d);
  std::string text = Say("streams differ at byte %zu (want %zu bytes, got %zu bytes)\n", d,
                         want.size(), got.size());
  if (kw > 0 && kw <= want_cmds.size())
    text += "  after command: " + Shown(want_cmds, kw - 1, want) + "\n";
  text += Say("  want command #%zu: ", kw) + Shown(want_cmds, kw, want);
  text += Say("\n  got command #%zu:  ", kg) + Shown(got_cmds, kg, got) + "\n";
  return text;
}

std::vector<std::string> MaskPointers(const std::vector<std::string> &lines)
{
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

std::string DiffLines(const std::vector<std::string> &want, const std::vector<std::string> &got)
{
  if (want == got) return "";
  size_t k = 0;
  while (k < want.size() && k < got.size() && want[k] == got[k]) k++;
  std::string text = Say("standard error differs at line %zu (want %zu lines, got %zu)\n", k + 1,
                         want.size(), got.size());
  if (k > 0) text += "  after: " + want[k - 1] + "\n";
  text += "  want:  " + (k < want.size() ? want[k] : std::string("(no more lines)")) + "\n";
  text += "  got:   " + (k < got.size() ? got[k] : std::string("(no more lines)")) + "\n";
  return text;
}

std::vector<std::string> HeaderDump(const cups_page_header2_t &h)
{
  return {
      "DEBUG: StartPage...",
      Say("DEBUG: MediaClass = \"%s\"", h.MediaClass),
      Say("DEBUG: MediaColor = \"%s\"", h.MediaColor),
      Say("DEBUG: MediaType = \"%s\"", h.MediaType),
      Say("DEBUG: OutputType = \"%s\"", h.OutputType),
      Say("DEBUG: AdvanceDistance = %d", (int)h.AdvanceDistance),
      Say("DEBUG: AdvanceMedia = %d", (int)h.AdvanceMedia),
      Say("DEBUG: Collate = %d", (int)h.Collate),
      Say("DEBUG: CutMedia = %d", (int)h.CutMedia),
      Say("DEBUG: Duplex = %d", (int)h.Duplex),
      Say("DEBUG: HWResolution = [ %d %d ]", (int)h.HWResolution[0], (int)h.HWResolution[1]),
      Say("DEBUG: ImagingBoundingBox = [ %d %d %d %d ]", (int)h.ImagingBoundingBox[0],
          (int)h.ImagingBoundingBox[1], (int)h.ImagingBoundingBox[2], (int)h.ImagingBoundingBox[3]),
      Say("DEBUG: InsertSheet = %d", (int)h.InsertSheet),
      Say("DEBUG: Jog = %d", (int)h.Jog),
      Say("DEBUG: LeadingEdge = %d", (int)h.LeadingEdge),
      Say("DEBUG: Margins = [ %d %d ]", (int)h.Margins[0], (int)h.Margins[1]),
      Say("DEBUG: ManualFeed = %d", (int)h.ManualFeed),
      Say("DEBUG: MediaPosition = %d", (int)h.MediaPosition),
      Say("DEBUG: MediaWeight = %d", (int)h.MediaWeight),
      Say("DEBUG: MirrorPrint = %d", (int)h.MirrorPrint),
      Say("DEBUG: NegativePrint = %d", (int)h.NegativePrint),
      Say("DEBUG: NumCopies = %d", (int)h.NumCopies),
      Say("DEBUG: Orientation = %d", (int)h.Orientation),
      Say("DEBUG: OutputFaceUp = %d", (int)h.OutputFaceUp),
      Say("DEBUG: PageSize = [ %d %d ]", (int)h.PageSize[0], (int)h.PageSize[1]),
      Say("DEBUG: Separations = %d", (int)h.Separations),
      Say("DEBUG: TraySwitch = %d", (int)h.TraySwitch),
      Say("DEBUG: Tumble = %d", (int)h.Tumble),
      Say("DEBUG: cupsWidth = %d", (int)h.cupsWidth),
      Say("DEBUG: cupsHeight = %d", (int)h.cupsHeight),
      Say("DEBUG: cupsMediaType = %d", (int)h.cupsMediaType),
      Say("DEBUG: cupsBitsPerColor = %d", (int)h.cupsBitsPerColor),
      Say("DEBUG: cupsBitsPerPixel = %d", (int)h.cupsBitsPerPixel),
      Say("DEBUG: cupsBytesPerLine = %d", (int)h.cupsBytesPerLine),
      Say("DEBUG: cupsColorOrder = %d", (int)h.cupsColorOrder),
      Say("DEBUG: cupsColorSpace = %d", (int)h.cupsColorSpace),
      Say("DEBUG: cupsCompression = %d", (int)h.cupsCompression),
      Say("DEBUG: cupsRowCount = %d", (int)h.cupsRowCount),
      Say("DEBUG: cupsRowFeed = %d", (int)h.cupsRowFeed),
      Say("DEBUG: cupsRowStep = %d", (int)h.cupsRowStep),
  };
}

std::vector<std::string> LutDump(const std::vector<LutRun> &runs)
{
  int level[256] = {0}, error[256] = {0};
  for (const LutRun &run : runs)
    for (int j = run.first; j <= run.last; j++) {
      level[j] = run.level;
      error[j] = j == 0 ? 0 : j - run.value;
    }
  std::vector<std::string> lines;
  for (int row = 0; row < 32; row++) {
    std::string line = "DEBUG:";
    for (int j = row * 8; j < row * 8 + 8; j++) line += Say(" [%d %d]", level[j], error[j]);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace harness
