#include <cstdlib>
#include <cstring>

#include "sides.h"

namespace bench {

using A = SimHost::Arg;

void Side::Settle(Clock::duration d) {
    WaitFor([] { return false; }, Clock::now() + d, std::chrono::milliseconds(50));
    log.Clear();
}

bool VarnelSide::Load(const varnel_test::TestServerConfig& server, const std::string& keys,
                      std::string* error) {
    const char* library = std::getenv("VARNEL_BENCH_LIBRARY");
    if (!(library != nullptr ? host_.Load(library) : host_.Load())) {
        *error = host_.LoadError();
        return false;
    }
    connectText_ = "server=" + server.host + ";port=" + std::to_string(server.port) +
                   ";database=" + server.database + ";user=" + server.user +
                   ";password=" + server.password + keys;
    // Every subscription's command is the bare "<Msg>": the host runs "NAME: count".
    host_.onExecute = [this](const std::string& command) {
        const Clock::time_point now = Clock::now();
        const size_t colon = command.rfind(':');
        const long count =
            colon == std::string::npos ? 0 : std::strtol(command.c_str() + colon + 1, nullptr, 10);
        log.Add(now, count);
    };
    return true;
}

VarnelSide::~VarnelSide() {
    if (host_.IsLoaded()) {
        host_.Unload();
    }
}

int VarnelSide::Connect(std::string* error) {
    SimHost::Result r = host_.Call("VN_STRINGCONNECT", {A::Text(connectText_)});
    if (r.raised || r.status != hostabi::kStatusOk) {
        *error = r.error;
        return -1;
    }
    return r.value.intValue;
}

bool VarnelSide::Subscribe(int connection, const std::string& eventName, std::string* error) {
    SimHost::Result r =
        host_.Call("VN_SUBSCRIBE", {A::Int(connection), A::Text(eventName), A::Text("<Msg>")});
    if (r.raised || r.status != hostabi::kStatusOk) {
        *error = r.error;
        return false;
    }
    return true;
}

void VarnelSide::Disconnect(int connection) {
    host_.Call("VN_DISCONNECT", {A::Int(connection)});
}

bool VarnelSide::WaitFor(const std::function<bool()>& done, Clock::time_point deadline,
                         Clock::duration slice) {
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(slice, deadline - now));
        host_.Pump(static_cast<uint32_t>(wait.count()));
    }
    return true;
}

bool VarnelSide::WaitForSum(int64_t target, Clock::time_point deadline) {
    // Each command runs inside a pump, which returns after it.
    return WaitFor([&] { return log.Sum() >= target; }, deadline, std::chrono::milliseconds(50));
}

}  // namespace bench
