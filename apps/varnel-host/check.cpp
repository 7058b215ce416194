#include "check.h"

#include <cstdio>

#include "channel/connection_check.h"
#include "host/commands.h"
#include "messages/messages.h"
#include "messages/texts.h"
#include "wire/secret.h"

namespace varnelhost {
namespace {

// A server's message may run over several lines: one line per step, its lines
// joined with a space after a full stop, else with "; ".
std::string OneLine(const std::string& text) {
    std::string line, part;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r') {
            part += text[i];
            continue;
        }
        while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) {
            part.pop_back();
        }
        if (!part.empty()) {
            line += (line.empty() ? "" : line.back() == '.' ? " " : "; ") + part;
        }
        part.clear();
    }
    return line;
}

class PrintedReport : public ICheckReport {
public:
    explicit PrintedReport(std::ostream& out) : out_(out) {}
    void Step(const CheckStep& step) override {
        static const char* const kOutcomes[] = {"ok", "FAILED", "skipped"};
        char head[64];
        if (step.outcome == CheckOutcome::kSkipped) {
            std::snprintf(head, sizeof head, "%-14s %-8s %9s ms", step.name, "skipped", "-");
        } else {
            std::snprintf(head, sizeof head, "%-14s %-8s %9.1f ms", step.name,
                          kOutcomes[static_cast<int>(step.outcome)], step.ms);
        }
        out_ << head;
        const std::string detail = OneLine(step.detail.Bytes());
        if (!detail.empty()) {
            out_ << "  " << detail;
        }
        out_ << "\n";
        if (!step.advice.IsEmpty()) {
            out_ << std::string(14, ' ') << " advice: " << step.advice.CStr() << "\n";
        }
        if (step.outcome == CheckOutcome::kFailed && failed_.empty()) {
            failed_ = step.name;
        }
        out_.flush();
    }
    const std::string& Failed() const { return failed_; }

private:
    std::ostream& out_;
    std::string failed_;
};

}  // namespace

int RunCheck(const std::string& connection, const std::string& eventName, uint32_t seconds,
             std::ostream& out, const PasswordSource& askPassword) {
    CheckSettings settings;
    try {
        const AnsiString text(connection.c_str());
        ConnectSettings read = ReadConnectionString(text);
        AnsiString given;
        std::string typed;
        if (!FindConnectionValue(text, "password=", &given) &&
            !FindConnectionValue(text, "pwd=", &given) && askPassword &&
            askPassword(read.user.Bytes(), &typed)) {
            read.password = AnsiString(typed.c_str());
            Wipe(typed);
            if (read.password.Length() > kMaxPassword) {
                Wipe(read.password);
                throw CommandFailed{
                    FormatText(msg::kPasswordTooLong, static_cast<long>(kMaxPassword))};
            }
        }
        settings.host = read.host;
        settings.port = read.port;
        settings.database = read.database;
        settings.user = read.user;
        settings.password = read.password;
        settings.login = read.options.login;
        Wipe(read.password);
    } catch (const CommandFailed& failure) {
        out << "result: the connection string is refused: " << failure.text.CStr() << "\n";
        return 1;
    }
    settings.eventName = AnsiString(eventName.c_str());
    settings.waitSeconds = seconds;
    out << "check: " << settings.user.CStr() << " at " << settings.host.CStr() << " port "
        << settings.port << ", database " << settings.database.CStr() << "\n";
    PrintedReport report(out);
    const bool passed = RunConnectionCheck(settings, report);
    if (passed) {
        out << "result: every step passed\n";
        return 0;
    }
    out << "result: failed at " << report.Failed() << "\n";
    return 1;
}

}  // namespace varnelhost
