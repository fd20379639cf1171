// The survey fuzzer's entry: each input is a container.  The first two
// images and the last are surveyed and every view of them is written to
// the null device; nothing else is written.  A survey that breaks its own
// bounds aborts, which libFuzzer reports as a crash; the sanitizers catch
// the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diskimage/DiskImage.h"
#include "output/Sink.h"
#include "survey/Survey.h"
#include "testing/CheckedRun.h"
#include "testing/D88Builder.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"
#include "views/SurveyMap.h"
#include "views/SurveyText.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "d88survey_fuzz: %s\n", what.c_str());
  std::abort();
}

// The promises of a survey that views rely on.
void Check(const survey::DiskSurvey& disk) {
  if (disk.slots < 0 || disk.slots > survey::kSlots ||
      (disk.slots > 0 && disk.slots != disk.shape.rows * disk.shape.sectorsPerTrack) ||
      static_cast<std::int64_t>(disk.slots) * disk.shape.sectorBytes > survey::kDataBytes)
    Fail("slot count " + std::to_string(disk.slots));
  if (disk.image.medium == nullptr) {
    if (disk.fileCount != 0) Fail("files on a disk of unknown medium");
    return;
  }
  if (disk.fileCount < 0 || disk.fileCount > tool::kMaxDirectoryEntries) Fail("file count");
  for (int p = 0; p < disk.slots; ++p) {
    if (disk.owner[p] < survey::kDirectoryOwner || disk.owner[p] >= disk.fileCount) Fail("owner");
  }
  for (int i = 0; i < disk.fileCount; ++i) {
    const tool::DataRange& range = disk.files[i].range;
    if (range.offset < 0 || range.length < 0 ||
        range.length > tool::kLargestDiskBytes - range.offset) {
      Fail("file range outside the disk buffer");
    }
  }
}

void ShowEverything(const survey::DiskSurvey& disk, output::Sink& sink) {
  views::PrintImageLine(sink, disk.image);
  views::PrintMediumWarning(sink, disk.image);
  views::PrintSizeWarning(sink, disk.image);
  views::PrintCutShort(sink, disk.image, true);
  for (int i = 0; i < disk.fileCount; ++i) views::PrintListedFile(sink, disk.files[i]);
  views::PrintProblems(sink, disk);
  views::JsonWriter json(sink);
  views::WriteImageJson(json, disk);
  if (disk.image.medium == nullptr) return;
  views::PrintMap(sink, disk, false);
  views::PrintMap(sink, disk, true);
  views::WriteMapJson(json, disk);
  views::WriteMapSvg(sink, disk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const d88check::Sandbox sandbox;
  static const std::string path = sandbox.ContainerPath();
#if defined(_WIN32)
  static std::FILE* sink = std::fopen("NUL", "wb");
#else
  static std::FILE* sink = std::fopen("/dev/null", "wb");
#endif
  static output::Sink nothing(sink);
  static diskimage::DiskImage disk;
  static survey::DiskSurvey survey;
  if (!d88test::WriteFileBytes(path, d88test::Bytes(data, data + size)))
    Fail("cannot write the input");
  if (!disk.Open(path.c_str())) Fail("the reader cannot open the container");
  const int images = survey::CountImages(disk);
  for (int k = 0; k < images; ++k) {
    if (k >= 2 && k != images - 1) continue;
    if (!survey::SurveyDisk(disk, k, &survey)) Fail("image " + std::to_string(k) + " not surveyed");
    Check(survey);
    ShowEverything(survey, nothing);
  }
  survey::ForeignFormat(disk);
  survey::Tally tally;
  survey::NoteBytesAfter(disk, images, &tally);
  if (tally.bytesAfter < 0 || tally.bytesAfter > static_cast<std::int64_t>(size))
    Fail("bytes after the last image");
  views::PrintBytesAfter(nothing, tally);
  views::PrintSummary(nothing, tally);
  if (survey::SurveyDisk(disk, disk.GetImageCount(), &survey)) Fail("an image past the last read");
  if (disk.GetReadError() != 0) Fail("a read error on a file that reads");
  disk.Open(nullptr);
  return 0;
}
