#include "views/FileSystemViews.h"

#include <cstring>

#include "output/NameText.h"
#include "views/SurveyJson.h"
#include "views/SurveyText.h"

namespace views {

namespace {

// Writes the damaged sectors of entry index and its faults in words.
void PrintEntryState(output::Sink& out, const survey::DiskSurvey& disk, survey::FileSystems& fs,
                     int index) {
  const filesystem::Entry& e = fs.chosen->EntryAt(index);
  const bool writable =
      e.kind == filesystem::EntryKind::kFolder || survey::EntryWritable(fs, index);
  if (e.Intact()) {
    out.Puts(writable ? "intact" : "intact; cannot be written under its name");
    return;
  }
  const char* separator = "";
  if ((e.faults & filesystem::kSectorDamaged) != 0) {
    survey::DamageList damage{};
    if (e.kind == filesystem::EntryKind::kFile) survey::AddEntryDamage(disk, fs, index, &damage);
    // A folder's directory: the first damaged sector its reader names.
    const int first = static_cast<int>(e.firstDamagedSector);
    if (damage.count == 0 && e.damagedSectors > 0 && first < disk.slots)
      damage.Add(first, disk.shape.sectorsPerTrack, disk.sectors[first], disk.facts[first].status);
    if (damage.count > 0) {
      PrintDamage(out, damage);
      if (e.kind == filesystem::EntryKind::kFolder && e.damagedSectors > 1)
        out.Printf(" and %lu more", static_cast<unsigned long>(e.damagedSectors - 1));
      separator = "; ";
    }
  }
  char words[256];
  const filesystem::Faults rest =
      *separator != '\0' ? e.faults & ~filesystem::kSectorDamaged : e.faults;
  if (rest != 0) {
    out.Printf("%s%s", separator, filesystem::DescribeFaults(rest, words, sizeof words));
    separator = "; ";
  }
  if (!writable) out.Printf("%scannot be written under its name", separator);
}

void PrintPath(output::Sink& out, const survey::FileSystems& fs, int index) {
  char path[filesystem::kMaxPathBytes + 1];
  fs.chosen->Path(index, path, sizeof path);
  out.Escaped(path);
  if (fs.chosen->EntryAt(index).kind == filesystem::EntryKind::kFolder) out.Putc('/');
}

void PrintNotRecognised(output::Sink& out, const survey::DiskSurvey& disk,
                        const survey::FileSystems& fs, const char* tail) {
  out.Printf("image %d: no file system recognised (", disk.image.index);
  out.Escaped(fs.reason.text);
  out.Printf(")%s\n", tail);
}

void PrintDiskFaults(output::Sink& out, const survey::DiskSurvey& disk,
                     const survey::FileSystems& fs) {
  char words[256];
  if (fs.chosen->RootFaults() != 0)
    out.Printf("image %d: root directory damaged: %s\n", disk.image.index,
               filesystem::DescribeFaults(fs.chosen->RootFaults(), words, sizeof words));
  if (fs.chosen->DiskFaults() != 0)
    out.Printf("image %d: %s\n", disk.image.index,
               filesystem::DescribeFaults(fs.chosen->DiskFaults(), words, sizeof words));
}

// Writes "path": its text, and the hex of its names' bytes as the disk
// holds them, joined by '/'.
void WritePathJson(JsonWriter& json, const survey::FileSystems& fs, int index) {
  char text[filesystem::kMaxPathBytes + 1];
  fs.chosen->Path(index, text, sizeof text);
  int chain[filesystem::kMaxDepth + 1];
  int count = 0;
  for (int at = index; at >= 0 && count <= filesystem::kMaxDepth;
       at = fs.chosen->EntryAt(at).parent)
    chain[count++] = at;
  char raw[2 * filesystem::kMaxPathBytes];
  std::size_t used = 0;
  while (count > 0) {
    const filesystem::Entry& e = fs.chosen->EntryAt(chain[--count]);
    for (std::size_t i = 0; i < e.nameByteCount && used < sizeof raw; ++i)
      raw[used++] = static_cast<char>(e.nameBytes[i]);
    if (count > 0 && used < sizeof raw) raw[used++] = '/';
  }
  char hex[2 * sizeof raw + 1];
  output::HexName(raw, used, hex, sizeof hex);
  json.Begin("path", '{', true);
  json.String("text", text);
  json.String("hex", hex);
  json.End();
}

}  // namespace

void PrintFileSystemListing(output::Sink& out, const survey::DiskSurvey& disk,
                            survey::FileSystems& fs) {
  if (fs.chosen == nullptr) {
    PrintNotRecognised(out, disk, fs, "");
    return;
  }
  out.Printf("image %d: %s\n", disk.image.index, fs.chosen->Name());
  PrintDiskFaults(out, disk, fs);
  for (int i = 0; i < fs.chosen->EntryCount(); ++i) {
    const filesystem::Entry& e = fs.chosen->EntryAt(i);
    PrintPath(out, fs, i);
    if (e.kind == filesystem::EntryKind::kFile)
      out.Printf(" %lu", static_cast<unsigned long>(e.size));
    if (e.hasTime) {
      out.Printf(" %04u-%02u-%02u %02u:%02u", 1980u + (e.dosDate >> 9u), (e.dosDate >> 5u) & 15u,
                 e.dosDate & 31u, e.dosTime >> 11u, (e.dosTime >> 5u) & 63u);
    }
    out.Puts("  ");
    PrintEntryState(out, disk, fs, i);
    out.Putc('\n');
  }
}

void PrintFileSystemProblems(output::Sink& out, const survey::DiskSurvey& disk,
                             survey::FileSystems& fs) {
  PrintCutShort(out, disk.image, false);
  if (fs.chosen == nullptr) {
    PrintNotRecognised(out, disk, fs, ", files not checked");
    return;
  }
  PrintDiskFaults(out, disk, fs);
  for (int i = 0; i < fs.chosen->EntryCount(); ++i) {
    const filesystem::Entry& e = fs.chosen->EntryAt(i);
    if (!e.Intact() || (e.kind == filesystem::EntryKind::kFile && !survey::EntryWritable(fs, i)))
      PrintFileProblem(out, disk, fs, i);
  }
}

void PrintFileProblem(output::Sink& out, const survey::DiskSurvey& disk, survey::FileSystems& fs,
                      int index) {
  out.Printf("image %d: ", disk.image.index);
  if (fs.IsFlat()) {
    out.DecodedName(disk.files[index].entry.name);
    out.Puts(": ");
    PrintFileState(out, disk.files[index]);
  } else {
    if (fs.chosen->EntryAt(index).kind == filesystem::EntryKind::kFolder) out.Puts("directory of ");
    PrintPath(out, fs, index);
    out.Puts(": ");
    PrintEntryState(out, disk, fs, index);
  }
  out.Putc('\n');
}

void WriteFileSystemJson(JsonWriter& json, const survey::DiskSurvey& disk,
                         survey::FileSystems& fs) {
  if (fs.chosen == nullptr) {
    json.Null("fileSystem");
  } else {
    json.String("fileSystem", fs.chosen->Name());
  }
  json.Begin("folders", '[');
  char text[filesystem::kMaxPathBytes + 1];
  for (int i = 0; fs.chosen != nullptr && i < fs.chosen->EntryCount(); ++i) {
    if (fs.chosen->EntryAt(i).kind != filesystem::EntryKind::kFolder) continue;
    fs.chosen->Path(i, text, sizeof text);
    json.String(nullptr, text);
  }
  json.End();
  json.Begin("files", '[');
  for (int i = 0; fs.chosen != nullptr && i < fs.chosen->EntryCount(); ++i) {
    const filesystem::Entry& e = fs.chosen->EntryAt(i);
    if (e.kind != filesystem::EntryKind::kFile) continue;
    json.Begin(nullptr, '{');
    if (fs.IsFlat()) {
      WriteFlatFileFields(json, disk.files[i]);
    } else {
      char hex[2 * filesystem::kMaxPathBytes + 1];
      output::HexName(reinterpret_cast<const char*>(e.nameBytes), e.nameByteCount, hex, sizeof hex);
      json.Begin("name", '{', true);
      json.String("text", e.nameText);
      json.String("hex", hex);
      json.End();
      json.Int("size", e.size);
      json.Bool("intact", e.Intact());
      survey::DamageList damage{};
      survey::AddEntryDamage(disk, fs, i, &damage);
      WriteDamageJson(json, "damagedSectorCount", "damagedSectors", damage);
      char words[256];
      json.String("faults", filesystem::DescribeFaults(e.faults, words, sizeof words));
      json.Bool("writableName", survey::EntryWritable(fs, i));
    }
    WritePathJson(json, fs, i);
    json.End();
  }
  json.End();
}

}  // namespace views
