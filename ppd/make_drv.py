#!/usr/bin/env python3
"""Turns the printer-model table into the driver description ppdc compiles.

One PPD per row of printers.tsv (a real Epson model, with its own head,
resolutions, inks, paper and IEEE-1284 device ID) and one generic PPD per
printer family (famN.ppd) for printers the table does not list.

Usage: make_drv.py TABLE OUTPUT.drv   write the driver description
       make_drv.py --list TABLE       print the PPD file names, one a line

What the filter takes from these PPDs, and why each value is what it is:

Family.  *cupsModelNumber is the printer family; the filter chooses the job
and page commands, the dot-size tables and the head layout by it.

Paper.  The filter reads the imageable area of the first two sizes listed:
the bottom margin of the first decides whether the printer is sent the paper
dimension (bottom below half an inch) or only the page length, and the top
margin of the second is where printing starts on every page.  So every PPD
lists Letter and A4 first and all its sizes share one set of margins.  Sheet
printers of families 1 to 5 hold the paper by its trailing edge and keep
14 mm there; the others print to 3 mm of every edge.  A page is at most
65,535 raster rows long (the page-length commands carry 16 bits), so custom
sizes stop there at the printer's finest vertical resolution.

Resolution and weave.  Each resolution also says how the filter weaves:
  cupsRowCount  raster rows one head pass spans: nozzles x nozzle pitch
  cupsRowStep   100 x horizontal interleave + nozzle pitch in raster rows
  cupsRowFeed   the feed between passes the filter will use (it computes
                it itself; the PPD states it so a reader can check it)
A head lays the dots of one pass no closer than its own pitch across the
paper (1/360 inch on most of these heads), hence the horizontal interleave.
The filter fills one band per pitch phase and interleave column and places
the first band of every slot by stepping through the slots by the feed,
taking the next empty slot where a step lands on a filled one.  A head whose
feed shares a factor with its slot count relies on that; the table marks
such settings "FAILS slot rule", and they ship only where the round trip
through the preview decoder (tests/ppd) proved every row printed once at its
place: PROVEN_SLOT_SKIPS below.  Otherwise the head is driven with one
nozzle less, except on the offset-head families 9 and 11, whose colour
offsets follow the nozzle count: those get the printer's own weave at that
resolution.  Printers whose head is not public weave with the printer's
microweave only.

Colour.  Grey (one black plane), colour (black, cyan, magenta, yellow),
three-ink colour on printers without black, and, on printers with light
inks, photo: KCMYcm at 8 bits, which every CUPS rasterizer delivers as four
planes per line and the filter splits into light cyan and light magenta
itself.  Family 9 never: its offset colour heads leave no rows for light inks.

Dots and data.  cupsCompression 1 compresses rows with PackBits; 2 also asks
for 2-bit (variable-size) dots, offered only where the family's dot-size
tables and the printer have them.  Family 6 always prints variable dots at
720 dpi and above, family 5500 at 1440 dpi.

Media.  MediaType names select the filter's paper class and black
generation; cupsMediaType carries four remote-mode media settings, one per
hexadecimal digit, sent to families 4 and up: paper feed sequence (1 plain,
2 coated and photo, 3 film, 4 thick art paper), platen gap (0 normal, 1
wide, 2 widest), ink drying time (1 short to 3 long), paper thickness (1
thin to 3 thick), lowest digit first.

Paper source.  MediaPosition 0 sends no source; desktop printers take the
sheet feeder then, and 1 selects the roll-paper holder.  Wide-format printers
read the high digit as the paper path and the low one as the source on it.
Families 9000 and up cut the roll after each page when CutMedia is set; the
desktop families and 5000/5500 are sent no cutter command and offer none.
"""

import collections
import re
import sys

# --- What every PPD names: its filters and printer-care commands ----------

# The raster filter (CUPS raster and the PDF route's raster), and the command
# filter that cleans heads, prints the self-test page and reports ink levels.
FILTERS = [
    "Filter application/vnd.cups-raster 100 inkbands",
    "Filter application/vnd.inkbands-raster 0 inkbands",
    "Filter application/vnd.cups-command 0 inkbands-commands",
]
COMMANDS = "Clean PrintSelfTestPage ReportLevels"
# Families 1 to 3 know no remote mode: cleaning and the nozzle check cannot be
# asked of them, and their ink levels are reported unknown.
COMMANDS_WITHOUT_REMOTE_MODE = "ReportLevels"

# --- Colour models: name -> (label, ppdc colour space and order) ----------

# The keywords are the ones CUPS maps print-color-mode to.  Photo pages are
# rendered in KCMY (Ghostscript refuses 8-bit KCMYcm) and rastertoinkbands
# marks them KCMYcm: four planes a line, the filter makes the light inks.
# The last field names the ICC profile Ghostscript separates the model's
# pages with (inkbandsICCProfile, in CUPS's profiles directory; pdftoinkbands
# hands it on per job, which cupsICCProfile cannot: gstoraster picks that by
# the queue's defaults and fails grey jobs on a colour queue).  KCMY pages use
# the one route/make_kcmy_profile.py writes, which prints every neutral with
# black ink alone, so black text gets full black and no composite grey.
KCMY_PROFILE = "inkbands-kcmy.icc"
COLOUR_MODELS = {
    "Gray": ("Grayscale", "k banded 0", None),
    "CMYK": ("Colour", "kcmy banded 0", KCMY_PROFILE),
    "CMY": ("Colour (three inks)", "cmy banded 0", None),
    "Photo": ("Photo (six inks)", "kcmy banded 0", KCMY_PROFILE),
}

# Families whose heads can print light inks (family 9's offset heads cannot).
LIGHT_INK_FAMILIES = {5, 6, 7, 5000, 5500, 9000, 9600, 10000}

# Families whose dot-size tables have 2-bit dots to choose; 6 and 5500 print
# them by themselves.  Family 7 has no dot sizes to vary at 360 dpi.
VARIABLE_DOT_FAMILIES = {7, 8, 9, 10, 11, 9600, 10000}
NO_VARIABLE_DOTS_AT = {7: "360dpi"}

# The ESC . printers take a 1440 dpi page only as driver-woven bands: the
# printer's own weave at 1440 dpi is a single interleave column they cannot
# be sent.
NO_PRINTER_WEAVE_AT = {4: "1440x720dpi", 5: "1440x720dpi", 5000: "1440x720dpi"}

# --- Paper ----------------------------------------------------------------

# name: (label, width, length) in points.
SIZES = collections.OrderedDict([
    ("Letter", ("US Letter", 612, 792)),
    ("A4", ("A4", 595, 842)),
    ("Legal", ("US Legal", 612, 1008)),
    ("Executive", ("Executive", 522, 756)),
    ("A5", ("A5", 420, 595)),
    ("B5", ("JIS B5", 516, 729)),
    ("4x6", ("4 x 6 in", 288, 432)),
    ("5x7", ("5 x 7 in", 360, 504)),
    ("8x10", ("8 x 10 in", 576, 720)),
    ("Env10", ("Envelope #10", 297, 684)),
    ("EnvDL", ("Envelope DL", 312, 624)),
    ("A3", ("A3", 842, 1191)),
    ("Tabloid", ("Tabloid (11 x 17 in)", 792, 1224)),
    ("13x19", ("Super B (13 x 19 in)", 936, 1368)),
    ("B4", ("JIS B4", 729, 1032)),
    ("A2", ("A2", 1191, 1684)),
    ("AnsiC", ("ANSI C (17 x 22 in)", 1224, 1584)),
    ("A1", ("A1", 1684, 2384)),
    ("ARCHC", ("Arch C (18 x 24 in)", 1296, 1728)),
    ("ARCHD", ("Arch D (24 x 36 in)", 1728, 2592)),
    ("A0", ("A0", 2384, 3370)),
    ("ARCHE", ("Arch E (36 x 48 in)", 2592, 3456)),
    ("17x36", ("Roll 17 in x 36 in", 1224, 2592)),
    ("24x60", ("Roll 24 in x 60 in", 1728, 4320)),
    ("36x60", ("Roll 36 in x 60 in", 2592, 4320)),
    ("44x60", ("Roll 44 in x 60 in", 3168, 4320)),
])
ROLL_SIZES = {"17x36", "24x60", "36x60", "44x60"}
DESKTOP_SIZES = ["Letter", "A4", "Legal", "Executive", "A5", "B5", "4x6", "5x7", "8x10",
                 "Env10", "EnvDL", "A3", "Tabloid", "13x19", "B4", "A2", "AnsiC", "17x36"]
WIDE_SIZES = ["Letter", "A4", "B5", "B4", "A3", "Tabloid", "13x19", "A2", "AnsiC", "A1",
              "ARCHC", "ARCHD", "A0", "ARCHE", "17x36", "24x60", "36x60", "44x60"]
MAX_RASTER_ROWS = 65535

# Paper paths: margins (left bottom right top), custom sizes, media, sources.
# Wide-format sources: PP path 03 source 00 is the roll, path 02 the manual
# sheet feed on the 7000-9600 class; 5000/5500 keep cassette, manual, roll.
PATHS = {
    "trailing": dict(margins="8.5 40 8.5 8.5", min_size="252 288", max_length=3168,
                     sizes=DESKTOP_SIZES, sources=[(0, "Auto/Sheet Feeder")],
                     roll=(1, "Roll/Roll Paper Holder"), wide_media=False),
    "desktop": dict(margins="8.5 8.5 8.5 8.5", min_size="252 288", max_length=3168,
                    sizes=DESKTOP_SIZES, sources=[(0, "Auto/Sheet Feeder")],
                    roll=(1, "Roll/Roll Paper Holder"), wide_media=False),
    "wide17": dict(margins="8.5 8.5 8.5 8.5", min_size="288 288", max_length=6480,
                   sizes=WIDE_SIZES,
                   sources=[(0x21, "Cassette/Paper Cassette"), (0x11, "Manual/Manual Sheet Feed")],
                   roll=(0x31, "Roll/Roll Paper"), wide_media=True),
    "wide": dict(margins="8.5 8.5 8.5 8.5", min_size="288 288", max_length=6480,
                 sizes=WIDE_SIZES, sources=[(0x20, "Manual/Manual Sheet Feed")],
                 roll=(0x30, "Roll/Roll Paper"), roll_first=True, cutter=True, wide_media=True),
}

# MediaType: (cupsMediaType, name/label).
MEDIA_TYPES = [(0x1101, "Plain/Plain Paper"), (0x1102, "Special/Coated Inkjet Paper"),
               (0x2302, "Glossy/Glossy Photo Paper"), (0x2212, "Matte/Heavyweight Matte Paper"),
               (0x1303, "Transparency/Transparency Film")]
PHOTO_MEDIA_TYPES = [(0x2212, "Archival/Archival Matte Paper"),
                     (0x3224, "Watercolor/Watercolor Paper")]
WIDE_MEDIA_TYPES = [(0x1101, "Plain/Plain Paper"), (0x1102, "Special/Coated Inkjet Paper"),
                    (0x2302, "Glossy/Glossy Photo Paper"),
                    (0x2212, "Matte/Heavyweight Matte Paper")] + PHOTO_MEDIA_TYPES + [
                    (0x2202, "PublProof/Publication Proofing Paper"),
                    (0x1202, "CommProof/Commercial Proofing Paper")]

# --- Families -------------------------------------------------------------

# number: (what the generic PPD says, paper path, widest paper in inches,
# head for families the table has no known head for: resolution -> count/step).
FAMILIES = collections.OrderedDict([
    (1, ("colour printer, 720 dpi", "trailing", 13.0, None)),
    (2, ("colour printer, 360 x 720 dpi", "trailing", 13.0,
         {"360x360": "128/4", "360x720": "256/8", "720x720": "256/8"})),
    (3, ("colour printer, coated-paper 720 dpi", "trailing", 13.0,
         {"360x360": "128/4", "360x720": "256/8", "720x720": "256/8"})),
    (4, ("colour printer, 1440 dpi", "trailing", 13.0, None)),
    (5, ("photo printer, 1440 dpi", "trailing", 13.0, None)),
    (6, ("photo printer, variable dots, 2880 dpi", "desktop", 13.0, None)),
    (7, ("photo printer, variable dots", "desktop", 13.0, None)),
    (8, ("colour printer, variable dots", "desktop", 13.0, None)),
    (9, ("colour printer, offset heads, variable dots", "desktop", 13.0, None)),
    (10, ("colour printer, triple black head, variable dots", "desktop", 13.0, None)),
    (11, ("colour printer, offset heads, 2880 x 1440 dpi", "desktop", 13.0, None)),
    (5000, ("wide-format photo printer", "wide17", 17.0,
            {"360x360": "256/4", "720x720": "512/8", "1440x720": "512/208"})),
    (5500, ("wide-format photo printer, variable dots at 1440 dpi", "wide17", 17.0,
            {"360x360": "256/4", "720x720": "512/8", "1440x720": "512/208"})),
    (9000, ("wide-format photo printer, 44 in roll", "wide", 44.0,
            {"360x360": "192/2", "720x720": "384/4", "1440x720": "384/204"})),
    (9600, ("wide-format photo printer, variable dots", "wide", 44.0,
            {"360x360": "192/2", "720x720": "384/4", "1440x720": "384/204"})),
    (10000, ("wide-format photo printer, variable dots", "wide", 44.0,
             {"360x360": "192/2", "720x720": "384/4", "1440x720": "384/204"})),
])

# Settings the table marks "FAILS slot rule" whose placement the round trip
# through the preview decoder proved (every row once, at its place, colour
# planes in register, feeds forward only), as (family, resolution,
# count/step).  tests/ppd checks every shipped setting again.
PROVEN_SLOT_SKIPS = {
    (9, "360x360", "45/3"), (9, "720x720", "90/206"), (9, "1440x720", "90/406"),
    (11, "720x720", "180/206"), (11, "2880x1440", "360/812"),
}
OFFSET_HEAD_FAMILIES = {9, 11}


# Where the PPDs depart from the table, and why:
# - only the resolutions weave_settings names are offered (the others in
#   `resolutions` have no weave for the head, or no dot-size table);
# - desktop printers with a cutter (PM 850PT, Stylus Photo 925) get no
#   CutMedia: families below 9000 are sent no cutter command; the Stylus
#   Photo 900's CD tray is not offered either;
# - seven-ink printers (the 9600 class) print with six: the filter has no
#   light-black plane;
# - family 6 printers get no VariableDots choice: the family prints variable
#   dots by itself at 720 dpi and above.

# --- Reading the table ----------------------------------------------------

Model = collections.namedtuple(
    "Model", "name family inks light_inks variable_dots paper_width roll mdl head weave")


# The file name of a model's PPD: its name without "Epson", lower case, hyphens.
def file_name(name):
    stem = re.sub(r"^Epson\s+", "", name).lower()
    return re.sub(r"[^a-z0-9]+", "-", stem).strip("-") + ".ppd"


# The resolution choices of one weave_settings entry: [(res, count/step or
# None for the printer's weave)], with the slot-rule decision applied.
def weave_choices(family, text):
    if text.startswith("printer weave only"):
        listed = re.search(r"resolutions\s+(.*)$", text).group(1).split()
        return [(res, None) for res in listed]
    choices = []
    for entry in text.split(";"):
        m = re.match(r"\s*(\d+x\d+):(\d+)/(\d+)(.*)$", entry)
        res, count, step, note = m.group(1), int(m.group(2)), int(m.group(3)), m.group(4)
        setting = "%d/%d" % (count, step)
        if "FAILS" in note and (family, res, setting) not in PROVEN_SLOT_SKIPS:
            if family in OFFSET_HEAD_FAMILIES:
                setting = None
            else:
                setting = "%d/%d" % (count - step % 100, step)
        choices.append((res, setting))
    return choices


# Every row of the model table as a Model.
def read_table(path):
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    header, models = lines[0], []
    for row in lines[1:]:
        r = dict(zip(header, row))
        family = int(r["family"])
        inks = int(r["inks"].split()[0])
        head = None
        if r["nozzles_per_colour"][:1].isdigit():
            head = (int(r["nozzles_per_colour"].split()[0]), r["nozzle_pitch"])
        models.append(Model(
            name=r["model"], family=family, inks=inks,
            light_inks=inks >= 6 and family in LIGHT_INK_FAMILIES,
            variable_dots=r["variable_dots"] == "yes", paper_width=float(r["max_paper_width_in"]),
            roll=r["roll_cutter"].startswith("roll"), mdl=r["ieee1284_mdl"].strip(),
            head=head, weave=weave_choices(family, r["weave_settings"])))
    names = [file_name(m.name) for m in models]
    twice = [n for n, k in collections.Counter(names).items() if k > 1]
    if twice:
        sys.exit("make_drv.py: models share PPD file names: " + ", ".join(twice))
    return models


# Resolution choices from the coarsest: vertical, then horizontal dpi.
def by_resolution(choices):
    return sorted(choices, key=lambda c: [int(v) for v in c[0].split("x")][::-1])


# The head most real printers of a family have, and the resolutions they
# print with it; None when no row of the family names its head.
def common_head(models, family):
    rows = [m for m in models if m.family == family and m.head]
    if not rows:
        return None
    head = collections.Counter(m.head for m in rows).most_common(1)[0][0]
    choices = collections.OrderedDict()
    for m in rows:
        if m.head == head:
            for res, setting in m.weave:
                choices.setdefault(res, setting)
    return by_resolution(choices.items())


# --- Writing the driver description ---------------------------------------

# The PPD name of a resolution: "360dpi" when square, else "1440x720dpi".
def res_name(res):
    x, y = res.split("x")
    return (x if x == y else res) + "dpi"


# One Resolution line: the weave the filter uses, or the printer's own.
def resolution_line(res, setting, default):
    x, y = (int(v) for v in res.split("x"))
    label = "%s DPI" % (x if x == y else "%d x %d" % (x, y))
    if setting is None:
        rows = "1 1 1"
        label += ", printer weave"
    else:
        count, step = (int(v) for v in setting.split("/"))
        cols, pitch = max(step // 100, 1), step % 100
        # The feed the filter computes: nozzles per column, one less when it
        # has the parity of the band's row count.
        feed = count // cols // pitch
        if feed % 2 == (count // pitch) % 2:
            feed -= 1
        rows = "%d %d %d" % (count, max(feed, 1), step)
    return '%sResolution - 8 %s "%s/%s"' % ("*" if default else "", rows, res_name(res), label)


# The presets IPP clients choose with print-color-mode and print-quality.
def presets(colour, grey, photo, resolutions):
    lines = []
    quality = "com.apple.print.preset.quality"
    mode = "com.apple.print.preset.output-mode"
    if grey:
        lines.append('"Draft_Gray/Draft Grayscale" "*ColorModel Gray *Resolution 360dpi '
                     '*Compression PackBits %s low %s monochrome"' % (quality, mode))
        lines.append('"Gray/Grayscale" "*ColorModel Gray %s mid %s monochrome"' % (quality, mode))
    lines.append('"Draft_Colour/Draft Colour" "*ColorModel %s *Resolution 360dpi '
                 '*Compression PackBits %s low %s color"' % (colour, quality, mode))
    lines.append('"Colour/Colour" "*ColorModel %s %s mid %s color"' % (colour, quality, mode))
    if "1440x720dpi" in resolutions:
        if grey:
            lines.append('"Best_Gray/Best Grayscale" "*ColorModel Gray *Resolution 1440x720dpi '
                         '%s high %s monochrome"' % (quality, mode))
        if photo:
            lines.append('"Photo/Photo" "*ColorModel Photo *Resolution 1440x720dpi '
                         'com.apple.print.preset.graphicsType Photo %s high %s color"'
                         % (quality, mode))
        else:
            lines.append('"Best_Colour/Best Colour" "*ColorModel %s *Resolution 1440x720dpi '
                         '%s high %s color"' % (colour, quality, mode))
    return ["Attribute APPrinterPreset " + p for p in lines]


# The driver description of one PPD.
def ppd_block(p):
    out = ["{"]
    add = out.append
    add('  Manufacturer "%s"' % p["make"])
    add('  ModelName "%s"' % p["model_name"])
    add('  Attribute NickName "" "%s"' % p["nick"])
    add('  Attribute ShortNickName "" "%s"' % p["short"][:31].strip())
    if p.get("product"):
        add('  Attribute Product "" "(%s)"' % p["product"])
    if p.get("mdl"):
        add('  Attribute 1284DeviceID "" "MFG:EPSON;CMD:ESCPL2;MDL:%s;"' % p["mdl"])
    add("  ModelNumber %d" % p["family"])
    add('  PCFileName "%s"' % p["file"])
    for line in FILTERS:
        add("  " + line)
    commands = COMMANDS if p["family"] >= 4 else COMMANDS_WITHOUT_REMOTE_MODE
    add('  Attribute cupsCommands "" "%s"' % commands)

    family, path = p["family"], PATHS[p["path"]]
    three_ink = p["inks"] == 3
    colour = "CMY" if three_ink else "CMYK"
    models = ([] if three_ink else ["Gray"]) + [colour] + (["Photo"] if p["photo"] else [])
    for name in models:
        label, space, profile = COLOUR_MODELS[name]
        add('  %sColorModel "%s/%s" %s' % ("*" if name == colour else "", name, label, space))
        if profile:
            add('  Attribute inkbandsICCProfile "%s" "%s"' % (name, profile))

    variable = p["variable_dots"] and family in VARIABLE_DOT_FAMILIES
    add('  Option "Compression/Print Data" PickOne AnySetup 20')
    add('    Choice "None/Uncompressed" "<</cupsCompression 0>>setpagedevice"')
    add('    %sChoice "PackBits/Compressed" "<</cupsCompression 1>>setpagedevice"'
        % ("" if variable else "*"))
    if variable:
        add('    *Choice "VariableDots/Compressed, variable dot sizes" '
            '"<</cupsCompression 2>>setpagedevice"')

    woven = any(setting for _, setting in p["resolutions"])
    printer_default = p["printer_weave"] or not woven
    add('  Option "Weave/Weaving" PickOne AnySetup 20')
    if woven:
        add('    %sChoice "Driver/Interleaved by the driver" ""' % ("" if printer_default else "*"))
    add('    %sChoice "Printer/Printer microweave" '
        '"<</cupsRowCount 1/cupsRowFeed 1/cupsRowStep 1>>setpagedevice"'
        % ("*" if printer_default else ""))

    names = [res_name(res) for res, _ in p["resolutions"]]
    default = "720dpi" if "720dpi" in names else names[0]
    for (res, setting), name in zip(p["resolutions"], names):
        add("  " + resolution_line(res, setting, name == default))
    for line in presets(colour, not three_ink, p["photo"], names):
        add("  " + line)

    constraints = []
    if variable and NO_VARIABLE_DOTS_AT.get(family) in names:
        constraints.append(("*Resolution " + NO_VARIABLE_DOTS_AT[family],
                            "*Compression VariableDots"))
    if woven and NO_PRINTER_WEAVE_AT.get(family) in names:
        constraints.append(("*Resolution " + NO_PRINTER_WEAVE_AT[family], "*Weave Printer"))
    for a, b in constraints:  # ppdc writes both directions
        add('  UIConstraints "%s %s"' % (a, b))

    for value, name in (WIDE_MEDIA_TYPES if path["wide_media"] else
                        MEDIA_TYPES + (PHOTO_MEDIA_TYPES if p["photo"] else [])):
        add('  MediaType %d "%s"' % (value, name))
    sources = list(path["sources"])
    if p["roll"]:
        sources.insert(0 if path.get("roll_first") else len(sources), path["roll"])
    for i, (value, name) in enumerate(sources):
        add('  %sInputSlot %d "%s"' % ("*" if i == 0 else "", value, name))
    if p["roll"] and path.get("cutter"):
        add("  Cutter yes")

    width = p["paper_width"] * 72
    top_ydpi = max(int(res.split("x")[1]) for res, _ in p["resolutions"])
    length = min(path["max_length"], MAX_RASTER_ROWS * 72 // top_ydpi)
    add("  HWMargins %s" % path["margins"])
    add("  VariablePaperSize yes")
    add("  MinSize %s" % path["min_size"])
    add("  MaxSize %d %d" % (width, length))
    for i, size in enumerate(s for s in path["sizes"] if SIZES[s][1] <= width + 0.5 and
                             (p["roll"] or s not in ROLL_SIZES)):
        add("  %sMediaSize %s" % ("*" if i == 0 else "", size))
    out.append("}")
    return out


# The generic PPD of a family, with the head most of its real printers have.
def family_ppd(models, family):
    text, path, width, known = FAMILIES[family]
    head = common_head(models, family)
    resolutions = head or by_resolution(known.items())
    return dict(make="Generic", model_name="Generic ESC/P2 printer family %d" % family,
                short="Generic ESC/P2 family %d" % family,
                nick="Generic ESC/P2 printer, family %d: %s (inkbands)" % (family, text),
                family=family, file="fam%d.ppd" % family, path=path,
                inks=6 if family in LIGHT_INK_FAMILIES else 4,
                photo=family in LIGHT_INK_FAMILIES, variable_dots=True,
                printer_weave=head is None, roll=family in (5, 6, 7) or path.startswith("wide"),
                paper_width=width, resolutions=resolutions)


# The PPD of a real printer model from its table row.
def model_ppd(m):
    text, path, _, _ = FAMILIES[m.family]
    return dict(make="Epson", model_name=m.name, nick="%s (inkbands)" % m.name,
                product=re.sub(r"^Epson\s+", "", m.name), mdl=m.mdl, family=m.family,
                short=re.sub(r"^Epson\s+", "", m.name) if len(m.name) > 31 else m.name,
                file=file_name(m.name), path=path, inks=m.inks, photo=m.light_inks,
                variable_dots=m.variable_dots, printer_weave=False, roll=m.roll,
                paper_width=m.paper_width, resolutions=m.weave)


# Every PPD the build makes: the families first, then the models.
def all_ppds(models):
    return [family_ppd(models, f) for f in FAMILIES] + [model_ppd(m) for m in models]


# The driver description: page sizes, then one block per PPD.
def driver_description(ppds):
    out = ["// Generated by ppd/make_drv.py from ppd/printers.tsv; edit those, not this.",
           ""]
    for name, (label, w, h) in SIZES.items():
        out.append('#media "%s/%s" %d %d' % (name, label, w, h))
    out += ["", 'Version "1.0"', "DriverType custom", "ColorDevice yes", "ManualCopies yes",
            "Throughput 1", ""]
    for p in ppds:
        out += ppd_block(p) + [""]
    return "\n".join(out)


# Writes the driver description, or lists the PPD file names.
def main(argv):
    if len(argv) == 3 and argv[1] == "--list":
        print("\n".join(p["file"] for p in all_ppds(read_table(argv[2]))))
        return 0
    if len(argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    text = driver_description(all_ppds(read_table(argv[1])))
    with open(argv[2], "w", encoding="utf-8") as f:
        f.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
