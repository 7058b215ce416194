// The library's one exported entry. The host reaches the function table and calls
// the functions through it; it is also the return point of a raised host error: no
// exception ever leaves it.

#include <new>

#include "host/host_abi.h"
#include "host/host_api.h"
#include "host/host_functions.h"
#include "messages/texts.h"

namespace {

// The number of required and of all arguments that a type string allows.
void ArgumentRange(const char* types, int* required, int* total) {
    *required = 0;
    *total = 0;
    bool optional = false;
    for (const char* p = types; *p != '\0'; ++p) {
        if (*p == '.') {
            optional = true;
            continue;
        }
        ++*total;
        if (!optional) {
            ++*required;
        }
    }
}

bool ArgumentsFit(const hostabi::FunctionEntry& entry, const hostabi::ParamBlock* params) {
    if (entry.parameterCount < 0) {
        return true;  // the hooks take no arguments
    }
    int required = 0, total = 0;
    ArgumentRange(entry.parameterTypes, &required, &total);
    const int count = params != nullptr ? params->count : 0;
    return count >= required && count <= total && (total == 0 || params != nullptr);
}

void Call(hostabi::DispatchRequest* request) {
    const hostabi::FunctionEntry* entry = FindTableEntry(request->function);
    if (entry == nullptr || !host::IsHostBound() || !ArgumentsFit(*entry, request->params)) {
        request->status = hostabi::kStatusBadRequest;
        return;
    }
    try {
        entry->function(request->params);
        request->status = hostabi::kStatusOk;
    } catch (const host::HostErrorRaised&) {
        request->status = hostabi::kStatusRaised;
    } catch (const std::bad_alloc&) {
        host::ReportHostError(msg::kNotEnoughMemory);
        request->status = hostabi::kStatusRaised;
    } catch (...) {
        host::ReportHostError(msg::kLibraryFailed);
        request->status = hostabi::kStatusRaised;
    }
}

}  // namespace

extern "C" VARNEL_EXPORT void VARNEL_FASTCALL DispatchAPI(hostabi::DispatchRequest* request) {
    if (request == nullptr) {
        return;
    }
    switch (request->code) {
        case hostabi::kDispatchGetTable:
            if (request->host == nullptr || request->host->size < sizeof(hostabi::HostOperations)) {
                request->status = hostabi::kStatusBadRequest;
                return;
            }
            host::BindHost(request->host);
            request->table = &HostFunctionTable();
            request->status = hostabi::kStatusOk;
            return;
        case hostabi::kDispatchCall:
            Call(request);
            return;
        default:
            request->status = hostabi::kStatusBadRequest;
            return;
    }
}
