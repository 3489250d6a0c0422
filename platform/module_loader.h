// Loading of run-time libraries by their plain name: "QFCMsgLib" stands for
// the file libQFCMsgLib.so.
//
// The file is searched in this order: each directory of the colon-separated
// TAVRO_LIBRARY_PATH, the directory of the running executable, then the
// system's own search (LD_LIBRARY_PATH, the cache, the default directories).
// The first directory that holds the name decides: a file (or a link) there
// that cannot be loaded ends the search, so that a broken library of one
// set never lets another set's library of the same name stand in for it.
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kLibraryPathVariable = "TAVRO_LIBRARY_PATH";

// "lib<name>.so"
std::string module_file_name(const char* name);

// The directory of the running executable, without a trailing slash; empty
// when it cannot be found.
std::string executable_dir();

// Loads the module and returns its handle, or null with *error set to an
// errno value (ENOENT when no file of that name was found) and *failed, when
// given, set to the file found that could not be loaded.
void* load_module(const char* name, int* error, std::string* failed = nullptr);

// True when the module is already loaded in the process; never loads it.
bool module_present(const char* name);

// The address of an exported symbol, or null.
void* module_symbol(void* module, const char* symbol);

// The file a loaded module came from; empty when it cannot be told.
std::string module_path(void* module);

// Drops one reference taken by load_module.
void unload_module(void* module);

}  // namespace platform
