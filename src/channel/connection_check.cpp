#include "channel/connection_check.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "channel/database.h"
#include "channel/event_report.h"
#include "events/event_records.h"
#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// The event queued when the user names none: nobody posts it.
constexpr char kProbeEvent[] = "VARNEL_CHECK";
// How long the disconnect at the end may take.
constexpr uint32_t kDisconnectGraceMs = 2000;

AnsiString Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return AnsiString(text);
}

AnsiString TextOf(const platform::SocketAddress& address) {
    char text[64];
    platform::AddressText(address, text, sizeof text);
    return AnsiString(text);
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Checker {
public:
    Checker(const CheckSettings& settings, ICheckReport& report)
        : settings_(settings),
          report_(report),
          event_(settings.eventName.IsEmpty() ? AnsiString(kProbeEvent) : settings.eventName),
          steps_(!settings.eventName.IsEmpty() && settings.waitSeconds > 0 ? kCheckStepCount
                                                                           : kCheckStepCount - 1) {}

    bool Run() {
        database_ = CDatabase::Create();
        const bool passed = Do([&](CheckStep& s) { return Resolve(s); }) &&
                            Do([&](CheckStep& s) { return Connect(s); }) &&
                            Do([&](CheckStep& s) { return Login(s); }) &&
                            Do([&](CheckStep& s) { return Attach(s); }) &&
                            Do([&](CheckStep& s) { return EventPort(s); }) &&
                            Do([&](CheckStep& s) { return EventConnect(s); }) &&
                            Do([&](CheckStep& s) { return Queue(s); }) &&
                            (next_ == steps_ || Do([&](CheckStep& s) { return Wait(s); }));
        for (; next_ < steps_; ++next_) {
            CheckStep skipped(kCheckSteps[next_]);
            report_.Step(skipped);
        }
        if (database_ != nullptr) {
            database_->Disconnect(kDisconnectGraceMs);
        }
        return passed;
    }

private:
    template <class Body>
    bool Do(Body body) {
        CheckStep step(kCheckSteps[next_++]);
        const Clock::time_point start = Clock::now();
        const bool passed = body(step);
        step.ms = MsSince(start);
        step.outcome = passed ? CheckOutcome::kPassed : CheckOutcome::kFailed;
        report_.Step(step);
        return passed;
    }

    // What the system said about the stream's failed connect (its own text when the
    // system said nothing).
    static AnsiString ReasonOf(const CWireStream& stream) {
        const AnsiString reason = SystemReasonText(stream.systemError);
        return reason.IsEmpty() ? stream.errorText : reason;
    }

    // The failure's own text from the main connection, with the advice.
    bool Failed(CheckStep& step, const CWireStream& stream, const char* advice) {
        step.detail = stream.errorText;
        step.advice = advice;
        return false;
    }

    bool Resolve(CheckStep& step) {
        if (database_ == nullptr) {
            step.detail = msg::kSocketServiceFailed;
            return false;
        }
        platform::SocketError error;
        count_ = CWireStream::ResolveHost(settings_.host, static_cast<uint32_t>(settings_.port),
                                          addresses_, CWireStream::kMaxAddresses, &error);
        if (count_ == 0) {
            step.detail =
                Format(msg::kCheckNoAddress, settings_.host.CStr(), SystemReasonText(error).CStr());
            step.advice = msg::kCheckNoAddressAdvice;
            return false;
        }
        step.detail = Format(msg::kCheckResolved, settings_.host.CStr(), AllAddresses().CStr());
        return true;
    }

    bool Connect(CheckStep& step) {
        CWireStream& main = database_->mainStream;
        // The time-out covers the connect and the whole login, as for a connection.
        const uint32_t limit = settings_.login.connectTimeoutMs;
        const uint32_t start = platform::TickCount();
        main.SetDeadline(start + limit,
                         FormatText(msg::kConnectTimedOut, static_cast<long>(limit / 1000)));
        AnsiString failed;  // the addresses not reached, each with its reason
        for (int i = 0; i < count_; ++i) {
            const uint32_t elapsed = platform::TickCount() - start;
            const uint32_t share = elapsed >= limit ? 0 : (limit - elapsed) / (count_ - i);
            if (share > 0 && main.Open(&addresses_[i], 1, share)) {
                const long port = static_cast<long>(platform::AddressPort(addresses_[i]));
                step.detail = i == 0
                                  ? Format(msg::kCheckConnected, TextOf(addresses_[i]).CStr(), port)
                                  : Format(msg::kCheckConnectedAfter, TextOf(addresses_[i]).CStr(),
                                           port, failed.CStr());
                return true;
            }
            if (i > 0) {
                failed.Append(", ");
            }
            // No time left for this address: its try timed out before it began.
            const AnsiString reason = share > 0 ? ReasonOf(main) : AnsiString(msg::kSystemTimedOut);
            failed.Append(
                Format(msg::kCheckAddressFailed, TextOf(addresses_[i]).CStr(), reason.CStr()));
        }
        step.detail =
            Format(msg::kCheckNotConnected, static_cast<long>(settings_.port), failed.CStr());
        step.advice = msg::kCheckNotConnectedAdvice;
        return false;
    }

    bool Login(CheckStep& step) {
        login_.reset(
            new CLogin(database_->mainStream,
                       LoginSettings{settings_.user, settings_.password, settings_.login}));
        if (!login_->Connect(settings_.database)) {
            return Failed(step, database_->mainStream, msg::kCheckLoginAdvice);
        }
        const AnsiString wire = login_->Cipher().IsEmpty()
                                    ? AnsiString(msg::kCheckNotEncrypted)
                                    : Format(msg::kCheckEncrypted, login_->Cipher().CStr());
        const long protocol = static_cast<long>(login_->Protocol());
        step.detail = protocol >= 13
                          ? Format(msg::kCheckLoginModern, protocol, login_->Plugin(), wire.CStr())
                          : Format(msg::kCheckLoginLegacy, protocol, wire.CStr());
        return true;
    }

    bool Attach(CheckStep& step) {
        CDatabase& database = *database_;
        const bool attached = database.Attach(*login_, settings_.database);
        const AnsiString version = attached ? database.GetServerVersion() : AnsiString();
        database.mainStream.ClearDeadline();
        if (!attached || database.mainStream.IsBroken()) {
            return Failed(step, database.mainStream, msg::kCheckAttachAdvice);
        }
        step.detail = Format(msg::kCheckAttached, version.CStr());
        return true;
    }

    bool EventPort(CheckStep& step) {
        uint32_t object = 0;
        AnsiString named;
        if (!database_->ConnectRequest(&object, &auxAddress_, &named)) {
            return Failed(step, database_->mainStream, msg::kCheckEventPortAdvice);
        }
        step.detail = Format(msg::kCheckEventPort,
                             static_cast<long>(platform::AddressPort(auxAddress_)), named.CStr());
        return true;
    }

    bool EventConnect(CheckStep& step) {
        const AnsiString address = TextOf(auxAddress_);
        const long port = static_cast<long>(platform::AddressPort(auxAddress_));
        if (!database_->auxStream.Open(&auxAddress_, 1, settings_.login.connectTimeoutMs)) {
            step.detail = Format(msg::kCheckNoEventConnection, address.CStr(), port,
                                 ReasonOf(database_->auxStream).CStr());
            step.advice = msg::kCheckNoEventConnectionAdvice;
            return false;
        }
        step.detail = Format(msg::kCheckConnected, address.CStr(), port);
        return true;
    }

    bool Queue(CheckStep& step) {
        request_.AddEventName(event_.CStr());
        request_.eventId = 1;
        const Clock::time_point start = Clock::now();
        if (!database_->QueueEvents(request_)) {
            return Failed(step, database_->mainStream, "");
        }
        if (!NextReport(kFirstReportLimitMs)) {
            step.detail = Format(msg::kCheckNoFirstReport, event_.CStr(),
                                 static_cast<long>(kFirstReportLimitMs / 1000));
            step.advice = msg::kCheckNoFirstReportAdvice;
            return false;
        }
        step.detail = Format(msg::kCheckQueued, event_.CStr(), MsSince(start));
        return true;
    }

    bool Wait(CheckStep& step) {
        const Clock::time_point start = Clock::now();
        const uint32_t limitMs = settings_.waitSeconds * 1000u;
        int32_t fired = 0;
        while (fired == 0) {
            const double elapsed = MsSince(start);
            if (elapsed >= limitMs || !database_->QueueEvents(request_) ||
                !NextReport(limitMs - static_cast<uint32_t>(elapsed))) {
                step.detail = Format(msg::kCheckNotFired, event_.CStr(),
                                     static_cast<long>(settings_.waitSeconds));
                step.advice = Format(msg::kCheckNotFiredAdvice, event_.CStr());
                return false;
            }
            fired = request_.events[0].firedCount;
        }
        step.detail = Format(msg::kCheckFired, event_.CStr(), static_cast<long>(fired),
                             MsSince(start) / 1000);
        return true;
    }

    // Waits up to limitMs for the server's next report on the request and applies
    // it. False when none came or the event connection ended.
    bool NextReport(uint32_t limitMs) {
        CWireStream& aux = database_->auxStream;
        const uint32_t start = platform::TickCount();
        for (;;) {
            const uint32_t elapsed = platform::TickCount() - start;
            if (elapsed >= limitMs) {
                return false;
            }
            if (aux.BufferedInput() == 0 && aux.socket.WaitReadable(limitMs - elapsed) != 1) {
                return false;
            }
            const EventReport report = ReadEventReport(aux, kReportLimitMs);
            if (aux.IsBroken() || report.kind == EventReport::Kind::kEnd) {
                return false;
            }
            if (report.kind == EventReport::Kind::kEvent && report.eventId == request_.eventId) {
                request_.ApplyEventBlock(report.items);
                return true;
            }
        }
    }

    // The addresses as text, separated by commas.
    AnsiString AllAddresses() const {
        AnsiString all;
        for (int i = 0; i < count_; ++i) {
            if (i > 0) {
                all.Append(", ");
            }
            all.Append(TextOf(addresses_[i]));
        }
        return all;
    }

    const CheckSettings& settings_;
    ICheckReport& report_;
    const AnsiString event_;
    const int steps_;
    int next_ = 0;
    std::unique_ptr<CDatabase> database_;
    std::unique_ptr<CLogin> login_;
    platform::SocketAddress addresses_[CWireStream::kMaxAddresses];
    int count_ = 0;
    platform::SocketAddress auxAddress_{};
    EventRequest request_;
};

}  // namespace

bool RunConnectionCheck(const CheckSettings& settings, ICheckReport& report) {
    Checker checker(settings, report);
    return checker.Run();
}
