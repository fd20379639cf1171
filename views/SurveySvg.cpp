// The map as an SVG picture: tracks across, sectors down, one rectangle per
// sector filled with its file's colour, a smaller mark inside for damage,
// and a legend of files and marks below.
#include <cstring>

#include "views/NameText.h"
#include "views/SurveyMap.h"

namespace views {

namespace {

constexpr int kCellWidth = 8;    // one track
constexpr int kCellHeight = 14;  // one sector
constexpr int kLeft = 40;        // room for the sector numbers
constexpr int kTop = 36;         // room for the title and track numbers
constexpr int kLegendItemWidth = 170;
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
    survey::SectorState::kMissing,    survey::SectorState::kCut,       survey::SectorState::kShort,
    survey::SectorState::kBadStatus,  survey::SectorState::kDuplicate, survey::SectorState::kLong,
    survey::SectorState::kDeletedMark};
constexpr int kMarkedCount = sizeof kMarked / sizeof kMarked[0];

// The mark colour of each state, in the order of SectorState; none for
// intact.
constexpr const char* kMarkColours[survey::kSectorStates] = {
    nullptr, "#000000", "#ff7f00", "#6a3d9a", "#1f78b4", "#e31a1c", "#b15928", "#33a02c"};

// The style sheet: cell outlines, file fills f0 ..., "none" and "dir".
void WriteStyle(std::FILE* out) {
  std::fprintf(out, "<style>.cell{stroke:#fff;stroke-width:0.5}.none{fill:%s}.dir{fill:%s}",
               kUnownedFill, kDirectoryFill);
  for (int i = 0; i < kFileFillCount; ++i) std::fprintf(out, ".f%d{fill:%s}", i, kFileFills[i]);
  std::fputs("</style>\n", out);
}

// Writes UTF-8 text as XML character data; control characters, which XML
// cannot hold, as \xNN.
void WriteXmlText(std::FILE* out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '&') {
      std::fputs("&amp;", out);
    } else if (c == '<') {
      std::fputs("&lt;", out);
    } else if (c == '>') {
      std::fputs("&gt;", out);
    } else if (c < 0x20) {
      std::fprintf(out, "\\x%02x", c);
    } else {
      std::fputc(c, out);
    }
  }
}

void WriteDecodedName(std::FILE* out, const char* bytes) {
  char text[kNameTextBytes];
  DecodeName(bytes, std::strlen(bytes), text, sizeof text);
  WriteXmlText(out, text);
}

// One legend entry: a swatch of fill at item i, then the label.
void LegendSwatch(std::FILE* out, int i, int perRow, int top, const char* fill) {
  const int x = kLeft + (i % perRow) * kLegendItemWidth;
  const int y = top + (i / perRow) * kLegendRowHeight;
  std::fprintf(out,
               "<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" stroke=\"#666\"/>"
               "<text x=\"%d\" y=\"%d\">",
               x, y, fill, x + 16, y + 10);
}

// Writes the cell of sector r + 1 of track t, with its name, state (a bad
// status by its meaning) and density byte as a tooltip, and its mark when
// it has one.
void WriteCell(std::FILE* out, const survey::DiskSurvey& disk, int t, int r) {
  const int slot = t * disk.image.medium->sectorsPerTrack + r;
  const int owner = disk.owner[slot];
  const int x = kLeft + t * kCellWidth;
  const int y = kTop + r * kCellHeight;
  std::fputs("<rect class=\"cell ", out);
  if (owner >= 0) {
    std::fprintf(out, "f%d", owner % kFileFillCount);
  } else {
    std::fputs(owner == survey::kDirectoryOwner ? "dir" : "none", out);
  }
  std::fprintf(out, "\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"><title>TRK=%02x SEC=%02x %s",
               x, y, kCellWidth, kCellHeight, t, r + 1,
               survey::SectorStateName(disk.sectors[slot]));
  const SectorRequest& record = disk.requests[slot];
  if (disk.sectors[slot] == survey::SectorState::kBadStatus) {
    char error[survey::kStatusTextBytes];
    survey::DescribeStatus(record.status, error);
    std::fprintf(out, " (%s)", error);
  }
  std::fprintf(out, ", density 0x%02x", record.density);
  if (owner == survey::kDirectoryOwner) std::fputs(", directory", out);
  if (owner >= 0) {
    std::fputs(", ", out);
    WriteDecodedName(out, disk.files[owner].entry.name);
  }
  std::fputs("</title></rect>\n", out);
  const char* mark = kMarkColours[static_cast<int>(disk.sectors[slot])];
  if (mark != nullptr) {
    std::fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", x + 2,
                 y + 3, kCellWidth - 4, kCellHeight - 6, mark);
  }
}

}  // namespace

void WriteMapSvg(std::FILE* out, const survey::DiskSurvey& disk) {
  const MediaGeometry& g = *disk.image.medium;
  const int gridWidth = g.tracks * kCellWidth;
  const int perRow = gridWidth / kLegendItemWidth > 0 ? gridWidth / kLegendItemWidth : 1;
  const int legendTop = kTop + g.sectorsPerTrack * kCellHeight + 16;
  const int legendItems = disk.fileCount + 2 + kMarkedCount;
  const int width = kLeft + gridWidth + 10;
  const int height = legendTop + (legendItems + perRow - 1) / perRow * kLegendRowHeight + 10;
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "font-family=\"sans-serif\" font-size=\"11\">\n",
               width, height);
  WriteStyle(out);
  std::fprintf(out,
               "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n<text x=\"%d\" "
               "y=\"12\">image %d \"",
               kLeft, disk.image.index);
  WriteDecodedName(out, disk.image.name);
  std::fprintf(out, "\", %s: tracks across, sectors down</text>\n", survey::MediumName(g));
  for (int t = 0; t < g.tracks; t += 16) {
    std::fprintf(out, "<text x=\"%d\" y=\"%d\">%02x</text>\n", kLeft + t * kCellWidth, kTop - 4, t);
  }
  for (int r = 1; r <= g.sectorsPerTrack; ++r) {
    std::fprintf(out, "<text x=\"%d\" y=\"%d\">%d</text>\n", kLeft - 16, kTop + r * kCellHeight - 3,
                 r);
  }
  for (int t = 0; t < g.tracks; ++t) {
    for (int r = 0; r < g.sectorsPerTrack; ++r) WriteCell(out, disk, t, r);
  }
  for (int i = 0; i < disk.fileCount; ++i) {
    LegendSwatch(out, i, perRow, legendTop, kFileFills[i % kFileFillCount]);
    std::fprintf(out, "%c ", FileLetter(i));
    WriteDecodedName(out, disk.files[i].entry.name);
    std::fputs("</text>\n", out);
  }
  LegendSwatch(out, disk.fileCount, perRow, legendTop, kDirectoryFill);
  std::fputs("directory</text>\n", out);
  LegendSwatch(out, disk.fileCount + 1, perRow, legendTop, kUnownedFill);
  std::fputs("no file</text>\n", out);
  for (int m = 0; m < kMarkedCount; ++m) {
    LegendSwatch(out, disk.fileCount + 2 + m, perRow, legendTop,
                 kMarkColours[static_cast<int>(kMarked[m])]);
    std::fprintf(out, "%s</text>\n", survey::SectorStateName(kMarked[m]));
  }
  std::fputs("</svg>\n", out);
}

}  // namespace views
