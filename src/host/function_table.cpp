#include "host/host_functions.h"

namespace {

const hostabi::FunctionEntry kEntries[] = {
    {"VARNEL_INIT", VARNEL_INIT, hostabi::kLoadHook, ""},
    {"VARNEL_EXIT", VARNEL_EXIT, hostabi::kUnloadHook, ""},
    {"VN_LIST_SUBSCR", VN_LIST_SUBSCR, 0, ""},
    {"VN_SUBSCRIBE", VN_SUBSCRIBE, 3, "ICC"},
    {"VN_UNSUBSCRIBE", VN_UNSUBSCRIBE, 2, "IC"},
    {"VN_STRINGCONNECT", VN_STRINGCONNECT, 1, "C"},
    {"VN_CONNECT", VN_CONNECT, 5, "CCCC.I"},
    {"VN_DISCONNECT", VN_DISCONNECT, 1, "I"},
    {"VN_ONLOST", VN_ONLOST, 2, "IC"},
    {"VN_ONRESTORED", VN_ONRESTORED, 2, "IC"},
    {"VN_VERSION", VN_VERSION, 0, ""},
};

const hostabi::FunctionTable kTable = {
    nullptr,
    static_cast<int16_t>(sizeof kEntries / sizeof kEntries[0]),
    kEntries,
};

}  // namespace

const hostabi::FunctionTable& HostFunctionTable() {
    return kTable;
}

const hostabi::FunctionEntry* FindTableEntry(hostabi::Function function) {
    for (const hostabi::FunctionEntry& entry : kEntries) {
        if (entry.function == function) {
            return &entry;
        }
    }
    return nullptr;
}
