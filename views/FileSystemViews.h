// The views of a disk read through the file-system interface: any file
// system other than the flat directory (whose lines stay the extraction
// tool's), and a disk whose file system is not recognised.
#ifndef D88EXTRACT_VIEWS_FILESYSTEMVIEWS_H
#define D88EXTRACT_VIEWS_FILESYSTEMVIEWS_H

#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "views/JsonWriter.h"

namespace views {

// list: the file system's name, then each folder and file: path, size,
// date and state; or why no file system was recognised.
void PrintFileSystemListing(output::Sink& out, const survey::DiskSurvey& disk,
                            survey::FileSystems& fs);

// test: the damaged folders and files, one line each; or that the files
// were not checked.
void PrintFileSystemProblems(output::Sink& out, const survey::DiskSurvey& disk,
                             survey::FileSystems& fs);

// Writes "image K: PATH: what is wrong" and a line end for file index of
// fs (on the flat directory, index of disk's files), as test tells of it.
void PrintFileProblem(output::Sink& out, const survey::DiskSurvey& disk, survey::FileSystems& fs,
                      int index);

// JSON: "fileSystem", "folders", and "files" (regular files, each with its
// path), for the image object being written.
void WriteFileSystemJson(JsonWriter& json, const survey::DiskSurvey& disk, survey::FileSystems& fs);

}  // namespace views

#endif
