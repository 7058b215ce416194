#include "simhost/sim_host.h"

#include <cstring>

namespace {

SimHost* g_current = nullptr;

}  // namespace

struct SimHostOps {
    static int32_t VARNEL_CDECL Execute(const char* command) {
        g_current->executed.emplace_back(command);
        if (g_current->onExecute) {
            // The callback may make further calls into the library; copy first.
            const std::string text(command);
            g_current->onExecute(text);
        }
        return 1;
    }
    static void VARNEL_CDECL ReturnValue(const hostabi::Value* value) {
        SimHost::Result* result = g_current->current_;
        if (result == nullptr) {
            return;
        }
        result->hasValue = true;
        result->value = *value;
        if (value->type == 'H') {
            std::vector<char>* bytes = g_current->HandleBytes(value->handle);
            if (bytes != nullptr) {
                result->text.assign(bytes->data(), value->length);
                result->textHandleSize = static_cast<uint32_t>(bytes->size());
            }
        }
    }
    static void VARNEL_CDECL RaiseError(const char* message) {
        if (SimHost::Result* result = g_current->current_) {
            result->raised = true;
            result->error = message;
        }
    }
    static void VARNEL_CDECL RaiseErrorNumber(int32_t number) {
        if (SimHost::Result* result = g_current->current_) {
            result->raised = true;
            result->errorNumber = number;
        }
    }
    static uint32_t VARNEL_CDECL MainWindow(int32_t, int32_t) {
        return g_current->withoutWindow ? 0u : 1u;
    }
    static void* VARNEL_CDECL WindowToHwnd(uint32_t hostWindow) {
        return hostWindow == 1 ? g_current->window_ : nullptr;
    }
    static uint32_t VARNEL_CDECL AllocHandle(uint32_t size) { return g_current->AllocHandle(size); }
    static int32_t VARNEL_CDECL SetHandleSize(uint32_t handle, uint32_t size) {
        std::vector<char>* bytes = g_current->HandleBytes(handle);
        if (bytes == nullptr || g_current->lockedHandles_.count(handle) != 0) {
            return 0;
        }
        bytes->resize(size);
        return 1;
    }
    static void* VARNEL_CDECL HandleToPointer(uint32_t handle) {
        std::vector<char>* bytes = g_current->HandleBytes(handle);
        return bytes != nullptr ? bytes->data() : nullptr;
    }
    static intptr_t VARNEL_STDCALL OwnWindowProc(platform::WindowHandle, uint32_t message,
                                                 uintptr_t wParam, intptr_t lParam) {
        if (g_current != nullptr) {
            g_current->ownMessages.push_back(SimHost::OwnMessage{message, wParam, lParam});
        }
        return SimHost::OwnResult(message, wParam, lParam);
    }

    static const hostabi::HostOperations kOperations;
};

const hostabi::HostOperations SimHostOps::kOperations = {
    sizeof(hostabi::HostOperations), &SimHostOps::Execute,          &SimHostOps::ReturnValue,
    &SimHostOps::RaiseError,         &SimHostOps::RaiseErrorNumber, &SimHostOps::MainWindow,
    &SimHostOps::WindowToHwnd,       &SimHostOps::AllocHandle,      &SimHostOps::SetHandleSize,
    &SimHostOps::HandleToPointer,
};

SimHost::SimHost() {
    g_current = this;
    window_ = platform::CreateHostWindow(&SimHostOps::OwnWindowProc);
}

SimHost::~SimHost() {
    Unload();
    platform::DestroyHostWindow(window_);
    if (g_current == this) {
        g_current = nullptr;
    }
}

bool SimHost::Load(const std::string& path) {
    module_ = platform::LoadModule(path.c_str());
    if (module_ == nullptr) {
        loadError_ = std::string("cannot load ") + path + ": " + platform::ModuleError();
        return false;
    }
    void* entry = platform::FindModuleSymbol(module_, platform::kDispatchEntryName);
    if (entry == nullptr) {
        loadError_ = std::string("no entry ") + platform::kDispatchEntryName + " in " + path;
        platform::UnloadModule(module_);
        module_ = nullptr;
        return false;
    }
    dispatch_ = reinterpret_cast<void(VARNEL_FASTCALL*)(hostabi::DispatchRequest*)>(entry);
    if (!BindAndInit()) {
        platform::UnloadModule(module_);
        module_ = nullptr;
        return false;
    }
    return true;
}

bool SimHost::LoadLinked(void(VARNEL_FASTCALL* dispatch)(hostabi::DispatchRequest*)) {
    dispatch_ = dispatch;
    return BindAndInit();
}

bool SimHost::BindAndInit() {
    hostabi::DispatchRequest request{};
    request.code = hostabi::kDispatchGetTable;
    request.host = &SimHostOps::kOperations;
    dispatch_(&request);
    if (request.status != hostabi::kStatusOk || request.table == nullptr) {
        loadError_ = "the dispatch entry handed out no function table";
        dispatch_ = nullptr;
        return false;
    }
    table_ = request.table;
    for (int i = 0; i < table_->entryCount; ++i) {
        if (table_->entries[i].parameterCount == hostabi::kLoadHook) {
            Call(table_->entries[i].name);
        }
    }
    return true;
}

void SimHost::Unload() {
    if (dispatch_ == nullptr) {
        return;
    }
    for (int i = 0; i < table_->entryCount; ++i) {
        if (table_->entries[i].parameterCount == hostabi::kUnloadHook) {
            Call(table_->entries[i].name);
        }
    }
    if (module_ != nullptr) {
        platform::UnloadModule(module_);
        module_ = nullptr;
    }
    table_ = nullptr;
    dispatch_ = nullptr;
}

SimHost::Result SimHost::Call(const std::string& name, const std::vector<Arg>& args) {
    Result result;
    const hostabi::FunctionEntry* entry = nullptr;
    for (int i = 0; table_ != nullptr && i < table_->entryCount; ++i) {
        if (name == table_->entries[i].name) {
            entry = &table_->entries[i];
        }
    }
    if (entry == nullptr) {
        result.status = hostabi::kStatusBadRequest;
        return result;
    }
    std::vector<char> block(sizeof(int16_t) + sizeof(hostabi::Value) * (args.size() + 1));
    auto* params = reinterpret_cast<hostabi::ParamBlock*>(block.data());
    params->count = static_cast<int16_t>(args.size());
    std::vector<uint32_t> argumentHandles;
    for (size_t i = 0; i < args.size(); ++i) {
        hostabi::Value* value = hostabi::Arg(params, static_cast<int>(i));
        value->type = args[i].type;
        if (args[i].type == 'C') {
            const uint32_t handle = AllocHandle(static_cast<uint32_t>(args[i].text.size()));
            if (!args[i].text.empty()) {
                std::memcpy(handles_[handle].data(), args[i].text.data(), args[i].text.size());
            }
            value->handle = handle;
            value->length = static_cast<uint32_t>(args[i].text.size());
            if (lockedArguments.count(static_cast<int>(i)) != 0) {
                lockedHandles_.insert(handle);
            }
            argumentHandles.push_back(handle);
        } else {
            value->intValue = args[i].integer;
        }
    }
    Result* outer = current_;
    current_ = &result;
    hostabi::DispatchRequest request{};
    request.code = hostabi::kDispatchCall;
    request.function = entry->function;
    request.params = params;
    dispatch_(&request);
    current_ = outer;
    result.status = request.status;
    if (result.hasValue && result.value.type == 'H') {
        const uint32_t handle = result.value.handle;  // a copy: the record is packed
        handles_.erase(handle);                       // the host has taken the text over
    }
    for (uint32_t handle : argumentHandles) {
        handles_.erase(handle);
        lockedHandles_.erase(handle);
    }
    return result;
}

int SimHost::Pump(uint32_t timeoutMs) {
    return platform::PumpMessages(window_, timeoutMs);
}

uint32_t SimHost::AllocHandle(uint32_t size) {
    const uint32_t handle = nextHandle_++;
    handles_[handle].resize(size);
    return handle;
}

std::vector<char>* SimHost::HandleBytes(uint32_t handle) {
    auto found = handles_.find(handle);
    return found != handles_.end() ? &found->second : nullptr;
}
