#include "platform/module.h"

#include <windows.h>

namespace platform {

const char* const kDispatchEntryName = "@DispatchAPI@4";

ModuleHandle LoadModule(const char* path) {
    return LoadLibraryA(path);
}

void* FindModuleSymbol(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(ModuleHandle module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

const char* ModuleError() {
    static char text[32];
    wsprintfA(text, "error %lu", GetLastError());
    return text;
}

}  // namespace platform
