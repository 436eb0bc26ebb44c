// Where the binary that holds this code lies: the library finds its
// configuration files beside its own file, whatever the host's current folder.
#ifndef KVD_PLATFORM_MODULE_PATH_H
#define KVD_PLATFORM_MODULE_PATH_H

#include <string>

// Folder of the shared library (or, when linked statically, the executable)
// that contains this function, without a trailing "/"; "." when the loader
// gives a bare file name, empty when the loader cannot tell.
std::string OwnModuleDirectory();

#endif  // KVD_PLATFORM_MODULE_PATH_H
