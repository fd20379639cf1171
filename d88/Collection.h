// list and test over a collection: many containers and the folders that
// hold them, surveyed by several workers at once and reported in order.
#ifndef D88EXTRACT_D88_COLLECTION_H
#define D88EXTRACT_D88_COLLECTION_H

#include "d88/Options.h"
#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace d88 {

// Writes one surveyed disk's part of list (list true) or test: as an
// element of json's "images" when json is given, else as text on out; its
// warnings go to warnings, when given.
void ReportImage(const survey::DiskSurvey& disk, survey::FileSystems& fs, bool list,
                 views::JsonWriter* json, output::Sink& out, output::Sink* warnings);

// True when the command line names one path and it is not a folder: the
// run reports that one container alone, as a single document.
bool NamesOneContainer(const Options& options);

// Writes the "path" (and "pathHex") members of a container's JSON, arg as
// the command line gives it, as a JSON Line of a collection has them.
void WriteContainerPath(views::JsonWriter& json, const output::Sink& out, const char* arg);

// list or test over every path of options: the containers named, and those
// in the folders named.  Writes each container's report (its path first)
// in the order of the paths, folders sorted by path, then one summary; in
// JSON Lines with options.json.  Returns 1 when a container could not be
// read, else for test 2 when one is damaged, else 0.
int AuditCollection(const Options& options, output::Sink& out, output::Sink& err);

}  // namespace d88

#endif
