#include "platform/system_calls.h"

#include <atomic>

namespace platform {
namespace {

struct Checkpoint {
    std::atomic<int> calls{0};
    std::atomic<int> failAt{0};  // the call number that fails; 0: none
};

Checkpoint g_checkpoints[static_cast<int>(SystemCall::kCount)];

Checkpoint& Of(SystemCall call) {
    return g_checkpoints[static_cast<int>(call)];
}

}  // namespace

void FailSystemCall(SystemCall call, int nth) {
    Checkpoint& checkpoint = Of(call);
    checkpoint.failAt.store(nth > 0 ? checkpoint.calls.load() + nth : 0);
}

void ResetSystemCalls() {
    for (Checkpoint& checkpoint : g_checkpoints) {
        checkpoint.failAt.store(0);
        checkpoint.calls.store(0);
    }
}

int SystemCallCount(SystemCall call) {
    return Of(call).calls.load();
}

bool SystemCallFails(SystemCall call) {
    Checkpoint& checkpoint = Of(call);
    const int number = checkpoint.calls.fetch_add(1) + 1;
    return number == checkpoint.failAt.load();
}

}  // namespace platform
