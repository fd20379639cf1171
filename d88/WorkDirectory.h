// Making and entering the directory that extract writes into.
#ifndef D88EXTRACT_D88_WORKDIRECTORY_H
#define D88EXTRACT_D88_WORKDIRECTORY_H

namespace d88 {

// Makes directory path and every missing directory above it, as mkdir -p
// does.  Returns false, errno saying why, when one cannot be made or a
// step of the path is not a directory.
bool MakeDirectories(const char* path);

// Makes path the working directory; false, errno saying why, when it
// cannot be entered.
bool EnterDirectory(const char* path);

}  // namespace d88

#endif
