// File-system helpers for log files.
#ifndef KVD_LOGGING_LOG_FILES_H
#define KVD_LOGGING_LOG_FILES_H

#include <string>

namespace kvd::logging {

// Creates every folder of path that is missing: the part before each "/" or
// "\". Failures are left to the opening of the file to report; in particular
// a plain file standing where a folder should be is never touched.
void CreateMissingDirectories(const std::string& path);

// Whether anything (file or folder) exists under name.
bool FileExists(const std::string& name);

}  // namespace kvd::logging

#endif  // KVD_LOGGING_LOG_FILES_H
