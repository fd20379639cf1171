// Making and entering the directory that extract writes into.
#ifndef D88EXTRACT_D88_WORKDIRECTORY_H
#define D88EXTRACT_D88_WORKDIRECTORY_H

namespace cli {

// Makes directory path unless it exists, then makes it the working
// directory.  Returns false when either step fails.
bool EnterDirectory(const char* path);

}  // namespace cli

#endif
