# Lists an ESC/P2 printer stream as the printer reads it, one command a line.
# Input: the stream as decimal bytes, as `od -An -v -tu1` writes them.
#
#   ESC ( U 02 02 02 a0 05       ESC ( and a letter, parameter bytes in hex
#   REMOTE SN 00 00 02           a remote-mode command and its parameters
#   ESC i 12 comp=1 bits=2 bytes=180 rows=48 ink
#                                a raster command and whether its rows hold
#                                any dot ("ink") or none ("blank")
#   ESC . comp=0 v=10 h=10 rows=32 dots=1440 ink
#   NUL, CR, FF, ESC @, ESC U 01, ESC r 02, ESC \ 5, ESC NUL 27, TEXT @EJL
#
# Raster data is expanded (PackBits when compressed) to find where the next
# command starts; a stream that cannot be read ends with "ERROR offset: why".

function hex(v) { return sprintf("%02x", v) }

function fail(why) {
  printf "ERROR %d: %s\n", off, why
  state = "dead"
}

# Gathers the next n bytes into a[] and then calls done() with the reason.
function collect(n, reason) {
  what = reason; need = n; got = 0; state = "collect"
}

function hexargs(from, to,   s, k) {
  s = ""
  for (k = from; k < to; k++) s = s " " hex(a[k])
  return s
}

# A raster command's rows, raw or PackBits, until rows x bytes are read.
function rasterdata(header, compressed, total) {
  raster = header; ink = 0; left = total
  if (left <= 0) { endraster(); return }
  state = compressed ? "pbhead" : "raw"
}

function endraster() {
  print raster (ink ? " ink" : " blank")
  state = "top"
}

function nextrun() {
  if (left < 0) fail("PackBits run past the end of the rows")
  else if (left == 0) endraster()
  else state = "pbhead"
}

function done(   len) {
  state = "top"
  if (what == "paren") {
    letter = sprintf("%c", a[0]); len = a[1] + 256 * a[2]
    if (len == 0) print "ESC ( " letter
    else collect(len, "paren-args")
  } else if (what == "paren-args") {
    print "ESC ( " letter hexargs(0, need)
    if (letter == "R") remote = 1
  } else if (what == "U") {
    print "ESC U " hex(a[0])
  } else if (what == "r") {
    print "ESC r " hex(a[0])
  } else if (what == "backslash") {
    print "ESC \\ " (a[0] + 256 * a[1])
  } else if (what == "i") {
    rasterdata(sprintf("ESC i %s comp=%d bits=%d bytes=%d rows=%d", hex(a[0]), a[1], a[2],
                       a[3] + 256 * a[4], a[5] + 256 * a[6]),
               a[1], (a[3] + 256 * a[4]) * (a[5] + 256 * a[6]))
  } else if (what == "dot") {
    len = a[4] + 256 * a[5]
    if (len % 8) { fail("ESC . dot count " len " is not whole bytes"); return }
    rasterdata(sprintf("ESC . comp=%d v=%d h=%d rows=%d dots=%d", a[0], a[1], a[2], a[3], len),
               a[0], len / 8 * a[3])
  } else if (what == "remote") {
    name = sprintf("%c%c", first, a[0]); len = a[1] + 256 * a[2]
    if (len == 0) print "REMOTE " name
    else collect(len, "remote-args")
  } else if (what == "remote-args") {
    print "REMOTE " name hexargs(0, need)
  } else if (what == "remote-exit") {
    if (a[0] || a[1] || a[2]) fail("ESC in remote mode that does not leave it")
    else { print "REMOTE EXIT"; remote = 0 }
  }
}

function top(b) {
  if (remote) {
    if (b == 27) collect(3, "remote-exit")
    else { first = b; collect(3, "remote") }
  } else if (b == 27) state = "esc"
  else if (b == 0) print "NUL"
  else if (b == 13) print "CR"
  else if (b == 12) print "FF"
  else if (b == 64) { text = "@"; state = "text" }
  else print "BYTE " hex(b)
}

function esc(b) {
  state = "top"
  if (b == 64) print "ESC @"
  else if (b == 40) collect(3, "paren")
  else if (b == 85) collect(1, "U")
  else if (b == 105) collect(7, "i")
  else if (b == 46) collect(6, "dot")
  else if (b == 114) collect(1, "r")
  else if (b == 92) collect(2, "backslash")
  else if (b == 1) print "ESC 01"
  else if (b == 0) { nuls = 1; state = "nul" }
  else print "ESC " hex(b)
}

function feed(b) {
  if (state == "top") top(b)
  else if (state == "esc") esc(b)
  else if (state == "collect") { a[got++] = b; if (got == need) done() }
  else if (state == "raw") { if (b) ink = 1; if (--left == 0) endraster() }
  else if (state == "pbhead") {
    if (b < 128) { run = b + 1; state = "literal" }
    else if (b > 128) { run = 257 - b; state = "repeat" }
    else fail("PackBits header 80")
  }
  else if (state == "literal") { if (b) ink = 1; left--; if (--run == 0) nextrun() }
  else if (state == "repeat") { if (b) ink = 1; left -= run; nextrun() }
  else if (state == "nul") {
    if (b == 0) nuls++
    else { print "ESC NUL " nuls; state = "top"; top(b) }
  }
  else if (state == "text") {
    if (b == 10) { print "TEXT " text; state = "top" }
    else text = text sprintf("%c", b)
  }
}

BEGIN { state = "top"; remote = 0; off = 0 }
{ for (f = 1; f <= NF; f++) { feed($f + 0); off++ } }
END {
  if (state == "nul") print "ESC NUL " nuls
  else if (state != "top" && state != "dead") fail("stream ends inside a command")
}
