// cat: one file of a disk, its bytes on standard output as they stand.
#ifndef D88EXTRACT_D88_CATVERB_H
#define D88EXTRACT_D88_CATVERB_H

#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"

namespace d88 {

// Writes the bytes of the file name names on disk (read by fs, surveyed
// with its data) to out: the bytes extract would write into its file.
// Returns 0; 2 after the file's damage on err when it is not intact; 1
// after the message, nothing on out, when no file has that name or it is
// a folder.
int CatFile(const survey::DiskSurvey& disk, survey::FileSystems& fs, const char* name,
            output::Sink& out, output::Sink& err);

}  // namespace d88

#endif
