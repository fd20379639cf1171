// What a damaged file of a flat disk has lost, byte by byte, and what the
// extraction writes in its place: the page shows it beside the file.
#ifndef D88EXTRACT_WEB_FILELOSSES_H
#define D88EXTRACT_WEB_FILELOSSES_H

#include "output/Sink.h"
#include "survey/Survey.h"

namespace web {

// Writes one line for each sector that spoils file i of disk ("bytes
// 2048-3071 (TRK=00 SEC=06 missing): written as zeros"), then the bytes
// it gets beyond the disk or not at all.  Nothing for an intact file.
void PrintFileLosses(output::Sink& out, const survey::DiskSurvey& disk, int i);

}  // namespace web

#endif
