#include "host/dll/dll_api.h"

#include <cstring>
#include <new>

#include "common/version.h"
#include "host/commands.h"
#include "host/library.h"
#include "messages/texts.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace {

// The thread that loaded the library: static initialisation runs on it.
const uint32_t g_loaderThread = platform::CurrentThreadId();

// Posts the program's message for each new delivery: the connection's handle and a
// sequence number. Listener threads call it.
class ProgramAnnouncer : public IDeliveryAnnouncer {
public:
    void SetTarget(platform::WindowHandle window, uint32_t message) {
        platform::LockGuard guard(lock_);
        window_ = window;
        message_ = message;
    }
    bool Announce(int32_t connection, int32_t) override {
        platform::LockGuard guard(lock_);
        if (window_ != nullptr && message_ != 0) {
            platform::PostWindowMessage(window_, message_, static_cast<uintptr_t>(connection),
                                        static_cast<intptr_t>(++sequence_));
        }
        // A delivery whose message is lost still waits for the next take.
        return true;
    }

private:
    platform::Lock lock_;
    platform::WindowHandle window_ = nullptr;
    uint32_t message_ = 0;
    uint32_t sequence_ = 0;
};

ProgramAnnouncer& Announcer() {
    static ProgramAnnouncer announcer;
    return announcer;
}

DeliverySink& Sink() {
    static DeliverySink sink(&Library().eventRing, &Announcer());
    return sink;
}

AnsiString& LastError() {
    static AnsiString text;
    return text;
}

// Copies text into buffer (size bytes with the terminator) and returns the size the
// whole text needs.
int32_t CopyOut(const AnsiString& text, char* buffer, int32_t size) {
    const AnsiString whole = text.UpToFirstZero();
    if (size > 0) {
        const size_t room = static_cast<size_t>(size) - 1;
        const size_t length = whole.Length() < room ? whole.Length() : room;
        std::memcpy(buffer, whole.CStr(), length);
        buffer[length] = '\0';
    }
    return static_cast<int32_t>(whole.Length() + 1);
}

// Runs a command the way every function does: on the loading thread only, with the
// library started, the last error set or cleared, and nothing escaping.
template <class Command>
int32_t Run(Command command) {
    LastError().Clear();
    try {
        if (platform::CurrentThreadId() != g_loaderThread) {
            LastError() = msg::kWrongThread;
            return -1;
        }
        if (!Library().ready) {
            ResetLibrary();
            Library().ready = StartChannel(&Sink());
        }
        RequireReady();
        return command();
    } catch (const CommandFailed& failure) {
        LastError() = failure.text;
    } catch (const std::bad_alloc&) {
        LastError() = msg::kNotEnoughMemory;
    } catch (...) {
        LastError() = msg::kLibraryFailed;
    }
    return -1;
}

AnsiString Text(const char* text) {
    return AnsiString(text);
}

bool Null(const void* pointer, const char* what) {
    if (pointer == nullptr) {
        throw CommandFailed{FormatText(msg::kNullArgument, what)};
    }
    return false;
}

}  // namespace

int32_t VARNEL_STDCALL VnConnect(const char* host, const char* database, const char* user,
                                 const char* password, int32_t port) {
    return Run([&] {
        return ConnectCommand(Text(host), Text(database), Text(user), Text(password),
                              port == 0 ? kDefaultPort : port);
    });
}

int32_t VARNEL_STDCALL VnConnectString(const char* connection) {
    return Run([&] { return StringConnectCommand(Text(connection)); });
}

int32_t VARNEL_STDCALL VnSubscribe(int32_t handle, const char* eventName) {
    return Run([&] {
        SubscribeCommand(handle, Text(eventName), AnsiString(), false);
        return 1;
    });
}

int32_t VARNEL_STDCALL VnUnsubscribe(int32_t handle, const char* eventName) {
    return Run([&] {
        UnsubscribeCommand(handle, Text(eventName));
        return 1;
    });
}

int32_t VARNEL_STDCALL VnDisconnect(int32_t handle) {
    return Run([&] {
        DisconnectCommand(handle);
        return 1;
    });
}

int32_t VARNEL_STDCALL VnListSubscriptions(char* buffer, int32_t size) {
    return Run([&] {
        Null(buffer, "the buffer");
        return CopyOut(Library().subscriptions.Names(), buffer, size);
    });
}

int32_t VARNEL_STDCALL VnLastError(char* buffer, int32_t size) {
    // Reports the failure before it; it does not clear it.
    if (buffer == nullptr) {
        return -1;
    }
    return CopyOut(LastError(), buffer, size);
}

int32_t VARNEL_STDCALL VnVersion(char* buffer, int32_t size) {
    if (buffer == nullptr) {
        return -1;
    }
    return CopyOut(AnsiString(varnel::kVersion), buffer, size);
}

int32_t VARNEL_STDCALL VnSetNotify(intptr_t window, uint32_t message) {
    return Run([&] {
        Announcer().SetTarget(reinterpret_cast<platform::WindowHandle>(window), message);
        return 1;
    });
}

int32_t VARNEL_STDCALL VnTakeFiring(int32_t* handle, char* name, int32_t size) {
    return Run([&] {
        Null(handle, "the handle");
        Null(name, "the event name");
        EventSlot delivery;
        if (!Library().eventRing.TakeOldest(DeliveryKind::kFiring, &delivery)) {
            CopyOut(AnsiString(), name, size);
            return 0;
        }
        *handle = delivery.connection;
        CopyOut(delivery.eventName, name, size);
        return delivery.count;
    });
}

// Takes the oldest notice of the kind: its handle into *handle, its text into text.
int32_t TakeNotice(DeliveryKind kind, int32_t* handle, char* text, int32_t size) {
    return Run([&] {
        Null(handle, "the handle");
        Null(text, kind == DeliveryKind::kLoss ? "the reason" : "the text");
        EventSlot delivery;
        if (!Library().eventRing.TakeOldest(kind, &delivery)) {
            CopyOut(AnsiString(), text, size);
            return 0;
        }
        *handle = delivery.connection;
        CopyOut(delivery.text, text, size);
        return 1;
    });
}

int32_t VARNEL_STDCALL VnTakeLoss(int32_t* handle, char* reason, int32_t size) {
    return TakeNotice(DeliveryKind::kLoss, handle, reason, size);
}

int32_t VARNEL_STDCALL VnTakeRestore(int32_t* handle, char* text, int32_t size) {
    return TakeNotice(DeliveryKind::kRestore, handle, text, size);
}

int32_t VARNEL_STDCALL VnUnload() {
    LastError().Clear();
    if (platform::CurrentThreadId() != g_loaderThread) {
        LastError() = msg::kWrongThread;
        return -1;
    }
    QuitWorker();
    ReleaseChannel();
    return 1;
}
