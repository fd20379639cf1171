// Files of one disk by the names a user types: on the flat directory a
// name as list shows it, its bytes as extract writes them, or "#N", the
// entry at position N as rm takes it; on any other file system a path,
// folders joined by '/' or '\', compared as DOS compares names (ASCII
// letters in either case), by long name or 8.3 alias.
#ifndef D88EXTRACT_D88_NAMEDFILES_H
#define D88EXTRACT_D88_NAMEDFILES_H

#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"

namespace d88 {

// The most files a disk has: the flat directory's entries index the
// survey's files, any other file system's its own entries.
constexpr int kMostFiles = filesystem::kMaxEntries;
static_assert(kMostFiles >= tool::kMaxDirectoryEntries, "flat files index the same table");

// Returns the number of files of disk, read by fs, that names index.
int FileCount(const survey::DiskSurvey& disk, const survey::FileSystems& fs);

// Returns the file name names on disk: the last of that name, the one
// extract leaves; -1 when none is.
int FindFile(const survey::DiskSurvey& disk, const survey::FileSystems& fs, const char* name);

// Writes "d88: image K holds no file "NAME"; nothing written".
void PrintNoSuchFile(output::Sink& err, int image, const char* name);

// Marks in chosen (FileCount entries) every file each of the count names
// names, and every entry below a folder named.  Returns false after
// "d88: image K holds no file "NAME"" on err when a name names nothing.
bool ChooseFiles(const survey::DiskSurvey& disk, const survey::FileSystems& fs,
                 const char* const* names, int count, bool* chosen, output::Sink& err);

// extract with names: for each file chosen marks, in the directory's
// order, listing.list(entry) and its file written as the extraction tool's
// loop writes it.  Returns the index of the first that cannot be written,
// or -1.
int WriteChosenFlatFiles(const survey::DiskSurvey& disk, const bool* chosen,
                         const tool::EntryListing& listing);

}  // namespace d88

#endif
