// The map as an SVG picture: tracks across, sectors down, one rectangle per
// sector filled with its file's colour, a smaller mark inside for damage,
// and a legend of files and marks below.
#include <cstring>

#include "output/NameText.h"
#include "views/SurveyMap.h"

namespace views {

namespace {

constexpr int kCellWidth = 8;    // one track
constexpr int kCellHeight = 14;  // one sector
constexpr int kLeft = 40;        // room for the sector numbers
constexpr int kTop = 36;         // room for the title and track numbers
// The legend in two columns from the left edge: whole on a 360-pixel
// screen, where the grid scrolls.
constexpr int kLegendLeft = 4;
constexpr int kLegendColumns = 2;
constexpr int kLegendItemWidth = 168;
constexpr int kLegendRowHeight = 18;

// Pale fills, one per file in turn, so the marks stand out against them;
// the cells refer to them by class (f0 ...) to keep the picture small.
constexpr const char* kFileFills[] = {"#8dd3c7", "#ffffb3", "#bebada", "#80b1d3", "#fdb462",
                                      "#b3de69", "#fccde5", "#bc80bd", "#ccebc5", "#ffed6f"};
constexpr int kFileFillCount = sizeof kFileFills / sizeof kFileFills[0];
constexpr const char* kDirectoryFill = "#9e9e9e";
constexpr const char* kUnownedFill = "#e8e8e8";

// The states that get a mark, in legend order.
constexpr survey::SectorState kMarked[] = {
    survey::SectorState::kMissing,     survey::SectorState::kCut,
    survey::SectorState::kShort,       survey::SectorState::kBadStatus,
    survey::SectorState::kDuplicate,   survey::SectorState::kLong,
    survey::SectorState::kDeletedMark, survey::SectorState::kConflicting};
constexpr int kMarkedCount = sizeof kMarked / sizeof kMarked[0];

// The mark colour of each state, in the order of SectorState; none for
// intact.
constexpr const char* kMarkColours[survey::kSectorStates] = {nullptr,   "#000000", "#ff7f00",
                                                             "#6a3d9a", "#1f78b4", "#e31a1c",
                                                             "#b15928", "#33a02c", "#ff1493"};

// The style sheet: cell outlines, file fills f0 ..., "none" and "dir".
void WriteStyle(output::Sink& out) {
  out.Printf("<style>.cell{stroke:#fff;stroke-width:0.5}.none{fill:%s}.dir{fill:%s}", kUnownedFill,
             kDirectoryFill);
  for (int i = 0; i < kFileFillCount; ++i) out.Printf(".f%d{fill:%s}", i, kFileFills[i]);
  out.Puts("</style>\n");
}

// Writes UTF-8 text as XML character data; control characters, which XML
// cannot hold, as \xNN.
void WriteXmlText(output::Sink& out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '&') {
      out.Puts("&amp;");
    } else if (c == '<') {
      out.Puts("&lt;");
    } else if (c == '>') {
      out.Puts("&gt;");
    } else if (c < 0x20) {
      out.Printf("\\x%02x", c);
    } else {
      out.Putc(*p);
    }
  }
}

void WriteDecodedName(output::Sink& out, const char* bytes) {
  char text[output::kNameTextBytes];
  output::DecodeName(bytes, std::strlen(bytes), text, sizeof text);
  WriteXmlText(out, text);
}

// Writes owner i's name: the flat file's, decoded, or the entry's path.
void WriteOwner(output::Sink& out, const MapGrid& g, int i) {
  if (g.fs == nullptr) {
    WriteDecodedName(out, g.disk->files[i].entry.name);
    return;
  }
  char path[filesystem::kMaxPathBytes + 1];
  g.fs->chosen->Path(i, path, sizeof path);
  WriteXmlText(out, path);
  if (g.fs->chosen->EntryAt(i).kind == filesystem::EntryKind::kFolder) out.Putc('/');
}

// One legend entry: a swatch of fill at item i, then the label.
void LegendSwatch(output::Sink& out, int i, int perRow, int top, const char* fill) {
  const int x = kLegendLeft + (i % perRow) * kLegendItemWidth;
  const int y = top + (i / perRow) * kLegendRowHeight;
  out.Printf(
      "<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" stroke=\"#666\"/>"
      "<text x=\"%d\" y=\"%d\">",
      x, y, fill, x + 16, y + 10);
}

// Writes the cell of sector r + 1 of track t, with its name, state (a bad
// status by its meaning) and density byte as a tooltip, and its mark when
// it has one.
void WriteCell(output::Sink& out, const survey::DiskSurvey& disk, const MapGrid& g, int t, int r) {
  const int slot = t * g.sectorsPerTrack + r;
  const int owner = disk.owner[slot];
  const int x = kLeft + t * kCellWidth;
  const int y = kTop + r * kCellHeight;
  out.Puts("<rect class=\"cell ");
  if (owner >= 0) {
    out.Printf("f%d", owner % kFileFillCount);
  } else {
    out.Puts(owner == survey::kDirectoryOwner ? "dir" : "none");
  }
  out.Printf("\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"><title>TRK=%02x SEC=%02x %s", x, y,
             kCellWidth, kCellHeight, disk.shape.TrackIndex(t), r + 1,
             survey::SectorStateName(disk.sectors[slot]));
  const diskimage::RecordFacts& record = disk.facts[slot];
  if (disk.sectors[slot] == survey::SectorState::kBadStatus) {
    char error[survey::kStatusTextBytes];
    survey::DescribeStatus(record.status, error);
    out.Printf(" (%s)", error);
  }
  out.Printf(", density 0x%02x", record.density);
  if (owner == survey::kDirectoryOwner)
    out.Puts(g.fs != nullptr ? ", the file system's own" : ", directory");
  if (owner >= 0) {
    out.Puts(", ");
    WriteOwner(out, g, owner);
  }
  out.Puts("</title></rect>\n");
  const char* mark = kMarkColours[static_cast<int>(disk.sectors[slot])];
  if (mark != nullptr) {
    out.Printf("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", x + 2, y + 3,
               kCellWidth - 4, kCellHeight - 6, mark);
  }
}

}  // namespace

void WriteMapSvg(output::Sink& out, const survey::DiskSurvey& disk, const survey::FileSystems* fs) {
  const MapGrid g = GridOf(disk, fs);
  const int gridWidth = g.rows * kCellWidth;
  const int perRow = kLegendColumns;
  const int legendTop = kTop + g.sectorsPerTrack * kCellHeight + 16;
  const int legendItems = g.owners + 2 + kMarkedCount;
  const int legendWidth = kLegendLeft + kLegendColumns * kLegendItemWidth;
  const int width = kLeft + gridWidth + 10 > legendWidth ? kLeft + gridWidth + 10 : legendWidth;
  const int height = legendTop + (legendItems + perRow - 1) / perRow * kLegendRowHeight + 10;
  out.Printf(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
      "font-family=\"sans-serif\" font-size=\"11\">\n",
      width, height);
  WriteStyle(out);
  out.Printf(
      "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n<text x=\"%d\" "
      "y=\"12\">image %d \"",
      kLeft, disk.image.index);
  WriteDecodedName(out, disk.image.name);
  out.Printf("\", %s: tracks across, sectors down</text>\n", g.medium);
  for (int t = 0; t < g.rows; t += 16) {
    // Marked as hex, as the cells' TRK=xx are.
    out.Printf("<text x=\"%d\" y=\"%d\">0x%02x</text>\n", kLeft + t * kCellWidth, kTop - 4,
               disk.shape.TrackIndex(t));
  }
  for (int r = 1; r <= g.sectorsPerTrack; ++r) {
    out.Printf("<text x=\"%d\" y=\"%d\">%d</text>\n", kLeft - 16, kTop + r * kCellHeight - 3, r);
  }
  for (int t = 0; t < g.rows; ++t) {
    for (int r = 0; r < g.sectorsPerTrack; ++r) WriteCell(out, disk, g, t, r);
  }
  for (int i = 0; i < g.owners; ++i) {
    LegendSwatch(out, i, perRow, legendTop, kFileFills[i % kFileFillCount]);
    out.Printf("%c ", FileLetter(i));
    WriteOwner(out, g, i);
    out.Puts("</text>\n");
  }
  LegendSwatch(out, g.owners, perRow, legendTop, kDirectoryFill);
  out.Puts(g.fs != nullptr ? "the file system's own</text>\n" : "directory</text>\n");
  LegendSwatch(out, g.owners + 1, perRow, legendTop, kUnownedFill);
  out.Puts("no file</text>\n");
  for (int m = 0; m < kMarkedCount; ++m) {
    LegendSwatch(out, g.owners + 2 + m, perRow, legendTop,
                 kMarkColours[static_cast<int>(kMarked[m])]);
    out.Printf("%s</text>\n", survey::SectorStateName(kMarked[m]));
  }
  out.Puts("</svg>\n");
}

}  // namespace views
