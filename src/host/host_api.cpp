#include "host/host_api.h"

#include <cstring>

namespace host {
namespace {

const hostabi::HostOperations* g_host = nullptr;

}  // namespace

void BindHost(const hostabi::HostOperations* operations) {
    g_host = operations;
}
bool IsHostBound() {
    return g_host != nullptr;
}

int32_t HostExecute(const char* command) {
    return g_host->execute(command);
}

void HostReturnInteger(int32_t value, int16_t width) {
    hostabi::Value result{};
    result.type = 'I';
    result.width = width;
    result.intValue = value;
    g_host->returnValue(&result);
}

void HostReturnString(const AnsiString& text) {
    const uint32_t length = static_cast<uint32_t>(text.Length());
    uint32_t handle = g_host->allocHandle(length + 1);
    if (handle == 0) {
        return;
    }
    auto* bytes = static_cast<char*>(g_host->handleToPointer(handle));
    if (bytes == nullptr) {
        return;
    }
    std::memcpy(bytes, text.CStr(), length + 1);
    hostabi::Value result{};
    result.type = 'H';
    result.width = 0;
    result.length = length;
    result.handle = handle;
    g_host->returnValue(&result);
}

void HostRaiseError(const char* message) {
    g_host->raiseError(message);
    throw HostErrorRaised{};
}

void ReportHostError(const char* message) {
    g_host->raiseError(message);
}

void HostRaiseErrorNumber(int32_t number) {
    g_host->raiseErrorNumber(number);
    throw HostErrorRaised{};
}

uint32_t HostMainWindow(int32_t a, int32_t b) {
    return g_host->mainWindow(a, b);
}

platform::WindowHandle HostWindowToHwnd(uint32_t hostWindow) {
    return g_host->windowToHwnd(hostWindow);
}

bool HostSetHandleSize(uint32_t handle, uint32_t size) {
    return g_host->setHandleSize(handle, size) != 0;
}

void* HostHandleToPointer(uint32_t handle) {
    return g_host->handleToPointer(handle);
}

AnsiString PrepareCharacterArgument(const hostabi::Value& value) {
    if (!HostSetHandleSize(value.handle, value.length + 1)) {
        HostRaiseErrorNumber(kErrorHandleCannotGrow);
    }
    auto* bytes = static_cast<char*>(HostHandleToPointer(value.handle));
    if (bytes == nullptr) {
        HostRaiseErrorNumber(kErrorHandleCannotGrow);
    }
    bytes[value.length] = '\0';
    return AnsiString(bytes);
}

}  // namespace host
