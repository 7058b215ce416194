#include "platform/module.h"

#include <dlfcn.h>

namespace platform {

const char* const kDispatchEntryName = "DispatchAPI";

ModuleHandle LoadModule(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* FindModuleSymbol(ModuleHandle module, const char* name) {
    return dlsym(module, name);
}

void UnloadModule(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

const char* ModuleError() {
    const char* error = dlerror();
    return error != nullptr ? error : "";
}

}  // namespace platform
