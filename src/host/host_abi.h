#pragma once
// The binary interface between a desktop host and the library: the function table,
// the parameter block with its value records, the host operations, and the one
// exported dispatch entry. docs/host-abi.md describes it for a host's developer.
//
// Records that the host reads or writes field by field are byte-packed; in the
// 32-bit build every pointer is 32 bits wide, which the static_asserts below pin.

#include <cstdint>

#include "platform/abi.h"

namespace hostabi {

#pragma pack(push, 1)

// One argument or result value: 36 bytes.
struct Value {
    char type;              // 'C' character, 'I' integer, 'H' character result in a handle
    char pad;               // not used
    int16_t width;          // display width
    uint32_t length;        // length of a character value, in bytes
    int32_t intValue;       // value of an 'I' argument
    double realValue;       // not used by the library
    int64_t currencyValue;  // not used by the library
    uint32_t handle;        // memory handle of a character value
    uint32_t object;        // not used by the library
};

// The arguments of one call: a count, then `count` value records.
struct ParamBlock {
    int16_t count;
    Value values[1];  // really `count` records; use Arg()
};

using Function = void(VARNEL_CDECL*)(ParamBlock* params);

// One entry of the function table: 14 bytes in the 32-bit build.
struct FunctionEntry {
    const char* name;  // host name, NUL-terminated
    Function function;
    int16_t parameterCount;  // -2 load hook, -3 unload hook, else the count
    const char* parameterTypes;
};

// The table header: 10 bytes in the 32-bit build.
struct FunctionTable {
    FunctionTable* next;  // always null
    int16_t entryCount;
    const FunctionEntry* entries;
};

#pragma pack(pop)

inline Value* Arg(ParamBlock* block, int index) {
    return reinterpret_cast<Value*>(reinterpret_cast<char*>(block) + sizeof(int16_t) +
                                    sizeof(Value) * static_cast<unsigned>(index));
}

constexpr int16_t kLoadHook = -2;
constexpr int16_t kUnloadHook = -3;

// The host's side: operations the library calls. Every one is called on the thread
// that is inside a dispatch call, or (Execute) on the host's main thread from the
// library's window procedure. cdecl in the 32-bit build.
struct HostOperations {
    uint32_t size;  // sizeof(HostOperations) as the host was compiled
    // Runs a command at once on the calling thread; the result is not examined.
    int32_t(VARNEL_CDECL* execute)(const char* command);
    // Sets the result of the function in progress.
    void(VARNEL_CDECL* returnValue)(const Value* value);
    // Records an error for the function in progress. The host returns from this call;
    // the library then ends the function at once and the dispatch call reports
    // kStatusRaised.
    void(VARNEL_CDECL* raiseError)(const char* message);
    void(VARNEL_CDECL* raiseErrorNumber)(int32_t number);
    // A host window handle for the host's main window (the library passes 0 and 1).
    uint32_t(VARNEL_CDECL* mainWindow)(int32_t a, int32_t b);
    // The Windows handle (HWND) of a host window; on POSIX the simulated window.
    void*(VARNEL_CDECL* windowToHwnd)(uint32_t hostWindow);
    // Memory handles: allocate (0 on failure), resize (non-zero on success), address.
    uint32_t(VARNEL_CDECL* allocHandle)(uint32_t size);
    int32_t(VARNEL_CDECL* setHandleSize)(uint32_t handle, uint32_t size);
    void*(VARNEL_CDECL* handleToPointer)(uint32_t handle);
};

// What the host passes to the dispatch entry.
enum : uint32_t {
    kDispatchGetTable = 1,  // in: host; out: table
    kDispatchCall = 2,      // in: function, params
};
enum : int32_t {
    kStatusOk = 0,
    kStatusRaised = 1,       // the function raised a host error
    kStatusBadRequest = -1,  // unknown code, no host bound, or a function not in the table
};

struct DispatchRequest {
    uint32_t code;
    int32_t status;              // out
    const HostOperations* host;  // in (kDispatchGetTable)
    const FunctionTable* table;  // out (kDispatchGetTable)
    Function function;           // in (kDispatchCall): a function of the table
    ParamBlock* params;          // in (kDispatchCall)
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(Value) == 36, "value record is 36 bytes");
static_assert(sizeof(FunctionEntry) == 14, "function entry is 14 bytes");
static_assert(sizeof(FunctionTable) == 10, "table header is 10 bytes");
static_assert(sizeof(void*) == 4, "pointers are 32 bits");
#endif
static_assert(sizeof(Value) == 36, "value record is 36 bytes on every target");

}  // namespace hostabi

// The exported entry: "@DispatchAPI@4" in the 32-bit Windows build (fastcall, one
// pointer argument), "DispatchAPI" in the POSIX shared object.
extern "C" void VARNEL_FASTCALL DispatchAPI(hostabi::DispatchRequest* request);
