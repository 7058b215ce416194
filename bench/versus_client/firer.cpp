#include "firer.h"

#include <cinttypes>
#include <iostream>
#include <map>
#include <sstream>

#include "sides.h"

namespace bench {

bool Firer::Start(const std::string& prefix, std::string* error) {
    if (!process_.Start({SelfPath(), "--firer", "--prefix", prefix}, error)) {
        return false;
    }
    std::string line;
    if (!process_.ReadLine(&line) || line != "ready") {
        *error = "the firing process did not start: " + line;
        return false;
    }
    return true;
}

bool Firer::Send(const std::string& eventName, int commits) {
    return process_.WriteLine(eventName + " " + std::to_string(commits));
}

bool Firer::Reply(FireResult* result, std::string* error) {
    std::string line;
    if (!process_.ReadLine(&line)) {
        *error = "the firing process ended";
        return false;
    }
    int64_t first = 0, last = 0, end = 0;
    if (std::sscanf(line.c_str(), "done %" SCNd64 " %" SCNd64 " %" SCNd64, &first, &last, &end) !=
        3) {
        *error = line;
        return false;
    }
    *result = {FromNs(first), FromNs(last), FromNs(end)};
    return true;
}

namespace {

std::string StatusText(const ISC_STATUS* status) {
    char text[512];
    fb_interpret(text, sizeof text, &status);
    return text;
}

}  // namespace

int FirerMain(const varnel_test::TestServerConfig& server) {
    ClientSide client(server);
    std::string error;
    const int connection = client.Connect(&error);
    if (connection < 0) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    isc_db_handle* db = client.Handle(connection);
    std::printf("ready\n");
    std::fflush(stdout);
    std::map<std::string, isc_stmt_handle> statements;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream request(line);
        std::string name;
        int commits = 0;
        request >> name >> commits;
        ISC_STATUS_ARRAY status;
        int64_t first = 0, last = 0;
        error.clear();
        for (int i = 0; i < commits && error.empty(); ++i) {
            isc_tr_handle transaction = 0;
            if (isc_start_transaction(status, &transaction, 1, db, 0, nullptr) != 0) {
                error = StatusText(status);
                break;
            }
            isc_stmt_handle& statement = statements[name];
            if (statement == 0) {
                const std::string sql = "execute procedure post_events('" + name + "', 1)";
                if (isc_dsql_allocate_statement(status, db, &statement) != 0 ||
                    isc_dsql_prepare(status, &transaction, &statement, 0, sql.c_str(),
                                     SQL_DIALECT_V6, nullptr) != 0) {
                    error = StatusText(status);
                }
            }
            if (error.empty() &&
                isc_dsql_execute(status, &transaction, &statement, 1, nullptr) != 0) {
                error = StatusText(status);
            }
            if (!error.empty()) {
                isc_rollback_transaction(status, &transaction);
                break;
            }
            const int64_t before = ToNs(Clock::now());
            first = i == 0 ? before : first;
            last = before;
            if (isc_commit_transaction(status, &transaction) != 0) {
                error = StatusText(status);
            }
        }
        if (error.empty()) {
            std::printf("done %" PRId64 " %" PRId64 " %" PRId64 "\n", first, last,
                        ToNs(Clock::now()));
        } else {
            std::printf("error %s\n", error.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace bench
