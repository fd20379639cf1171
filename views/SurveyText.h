// The survey as lines of text, for list, test and extract.
#ifndef D88EXTRACT_VIEWS_SURVEYTEXT_H
#define D88EXTRACT_VIEWS_SURVEYTEXT_H

#include "output/Sink.h"
#include "survey/Survey.h"

namespace views {

// Writes `image K "NAME"`, the name decoded with its controls as \xNN.
void PrintImageTitle(output::Sink& out, const survey::ImageSummary& image);

// Writes image's line: index, name, media byte, medium, size, tracks; for
// a disk of neither medium, the geometry its records show.
void PrintImageLine(output::Sink& out, const survey::ImageSummary& image);

// Writes "d88: image K: media byte 0xNN, records are 2DD" when the
// records overrule the header byte; nothing otherwise.
void PrintMediumWarning(output::Sink& err, const survey::ImageSummary& image);

// Writes "d88: image K: header of N bytes: ..." when the first track
// begins before 0x2B0, and "d88: image K: size field N is smaller than an
// image header; ..." when the records overrule a size field; nothing
// otherwise.
void PrintSizeWarning(output::Sink& err, const survey::ImageSummary& image);

// Writes "image K: cut short: the file holds N of its M bytes", after
// "d88: " as a warning, when the size field reaches past the end of the
// file; nothing otherwise.
void PrintCutShort(output::Sink& out, const survey::ImageSummary& image, bool warning);

// Writes the three above in turn, the cut short one as a warning when
// warning says so.
void PrintImageWarnings(output::Sink& out, const survey::ImageSummary& image, bool warning);

// Writes "image K: directory damaged: ..." when a directory sector is
// missing, cut, short or has a bad status; nothing otherwise.
void PrintDirectoryDamage(output::Sink& out, const survey::DiskSurvey& disk);

// Writes the extraction tool's listing line of entry, with its newline.
void PrintListingLine(output::Sink& out, const tool::DirectoryEntry& entry);

// Writes what is wrong with file ("damaged: TRK=00 SEC=06 missing", "cut
// off", ...), or "intact"; without the line end.
// Writes "damaged:" and the sectors of damage, each where and what.
void PrintDamage(output::Sink& out, const survey::DamageList& damage);

void PrintFileState(output::Sink& out, const survey::FileSurvey& file);

// Writes the listing line of file followed by its state in words.
void PrintListedFile(output::Sink& out, const survey::FileSurvey& file);

// Writes one line for each thing wrong with disk: an image cut short, an
// unknown medium, a damaged directory, each file that is not intact.
// Nothing for a sound disk.
void PrintProblems(output::Sink& out, const survey::DiskSurvey& disk);

// Writes "N files in M images: I intact, D damaged", then the damaged
// directories, unknown media, images cut short, files that cannot be
// written under their names and bytes after the last image, if any.
void PrintSummary(output::Sink& out, const survey::Tally& tally);

// Writes "after the last image: N bytes that ..." when the container
// holds bytes after its last image, saying whether they start like an
// image header; nothing otherwise.
void PrintBytesAfter(output::Sink& out, const survey::Tally& tally);

}  // namespace views

#endif
