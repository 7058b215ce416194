#pragma once
// Loading the library as a host does: LoadLibraryA/GetProcAddress/FreeLibrary on
// Windows, dlopen/dlsym/dlclose on POSIX. Used by the simulated host.

namespace platform {

using ModuleHandle = void*;

// The exported name of the dispatch entry on this platform.
extern const char* const kDispatchEntryName;

ModuleHandle LoadModule(const char* path);
void* FindModuleSymbol(ModuleHandle module, const char* name);
void UnloadModule(ModuleHandle module);
// The loader's last error, for messages.
const char* ModuleError();

}  // namespace platform
