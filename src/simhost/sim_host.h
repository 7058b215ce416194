#pragma once
// A simulated desktop host: memory handles, the host operations, a main window with
// a message pump, and the library loaded through its dispatch entry exactly as a
// real host loads it. Tests and the command-line host drive the library with it.
//
// One SimHost may be alive at a time: the host operations are plain functions and
// find their host through a process-wide pointer.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/host_abi.h"
#include "platform/module.h"
#include "platform/window.h"

class SimHost {
public:
    // An argument as the host passes it.
    struct Arg {
        static Arg Text(std::string text) { return Arg{'C', std::move(text), 0}; }
        static Arg Int(int32_t value) { return Arg{'I', std::string(), value}; }
        char type;
        std::string text;
        int32_t integer;
    };

    struct Result {
        int32_t status = hostabi::kStatusOk;  // the dispatch call's status
        bool raised = false;                  // a host error was raised
        std::string error;                    // its message (empty for a numbered error)
        int32_t errorNumber = 0;              // its number, for HostRaiseErrorNumber
        bool hasValue = false;                // a result value was set
        alignas(8) hostabi::Value value{};    // aligned, so its fields can be read by reference
        std::string text;                     // an 'H' result's text
        uint32_t textHandleSize = 0;          // the size of the handle that holds it
    };

    // A message that reached the host window's own procedure.
    struct OwnMessage {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    SimHost();
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    // Loads the library, takes its function table and runs its load hook. False with
    // LoadError() set when the module or its entry cannot be found.
    bool Load(const std::string& path = VARNEL_LIBRARY_PATH);
    // Uses a library linked into this program through its dispatch entry, for tests
    // that look at the library's state from inside.
    bool LoadLinked(void(VARNEL_FASTCALL* dispatch)(hostabi::DispatchRequest*));
    // Runs the unload hook and unloads the module.
    void Unload();
    bool IsLoaded() const { return dispatch_ != nullptr; }
    const std::string& LoadError() const { return loadError_; }
    const hostabi::FunctionTable* Table() const { return table_; }

    // Calls a function of the table by its host name.
    Result Call(const std::string& name, const std::vector<Arg>& args = {});

    // Dispatches queued window messages (see platform::PumpMessages).
    int Pump(uint32_t timeoutMs);
    platform::WindowHandle Window() const { return window_; }

    // Every command the library asked the host to run, in order.
    std::vector<std::string> executed;
    // Runs for each executed command, after it was recorded.
    std::function<void(const std::string&)> onExecute;
    // Messages that reached the window's own procedure.
    std::vector<OwnMessage> ownMessages;
    // Character arguments whose handles refuse to grow (by argument position).
    std::set<int> lockedArguments;
    // Makes HostMainWindow hand out no window, to exercise a failed load.
    bool withoutWindow = false;

    // The value the window's own procedure returns for a message.
    static intptr_t OwnResult(uint32_t message, uintptr_t wParam, intptr_t lParam) {
        return static_cast<intptr_t>(message) * 7 + static_cast<intptr_t>(wParam) * 3 + lParam;
    }

private:
    friend struct SimHostOps;

    bool BindAndInit();
    uint32_t AllocHandle(uint32_t size);
    std::vector<char>* HandleBytes(uint32_t handle);

    platform::ModuleHandle module_ = nullptr;
    void(VARNEL_FASTCALL* dispatch_)(hostabi::DispatchRequest*) = nullptr;
    const hostabi::FunctionTable* table_ = nullptr;
    std::string loadError_;
    platform::WindowHandle window_ = nullptr;

    std::map<uint32_t, std::vector<char>> handles_;
    std::set<uint32_t> lockedHandles_;
    uint32_t nextHandle_ = 1;
    Result* current_ = nullptr;
};
