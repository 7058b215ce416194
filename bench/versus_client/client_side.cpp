#include <algorithm>
#include <cstring>

#include "sides.h"

namespace bench {

namespace {

std::string ErrorText(const ISC_STATUS* status) {
    char text[512];
    std::string all;
    while (fb_interpret(text, sizeof text, &status) > 0) {
        all += all.empty() ? "" : "; ";
        all += text;
    }
    return all;
}

}  // namespace

// One event request: one name on one attachment.
struct ClientSide::Request {
    ClientSide* side = nullptr;
    int connection = 0;
    isc_db_handle db = 0;
    ISC_LONG id = 0;
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* result = nullptr;
    short length = 0;
    std::mutex mutex;
    bool active = true;
};

ClientSide::ClientSide(const varnel_test::TestServerConfig& server)
    : path_(server.host + "/" + std::to_string(server.port) + ":" + server.database) {
    // User name and password; plugins and wire encryption as the client's
    // configuration says.
    auto add = [this](char tag, const std::string& value) {
        dpb_.push_back(tag);
        dpb_.push_back(static_cast<char>(value.size()));
        dpb_.insert(dpb_.end(), value.begin(), value.end());
    };
    dpb_.push_back(isc_dpb_version1);
    add(isc_dpb_user_name, server.user);
    add(isc_dpb_password, server.password);
}

ClientSide::~ClientSide() {
    for (size_t i = 0; i < attachments_.size(); ++i) {
        Disconnect(static_cast<int>(i));
    }
    for (const auto& request : requests_) {
        isc_free(reinterpret_cast<ISC_SCHAR*>(request->events));
        isc_free(reinterpret_cast<ISC_SCHAR*>(request->result));
    }
}

bool ClientSide::Attach(isc_db_handle* handle, std::string* error) {
    ISC_STATUS_ARRAY status;
    *handle = 0;
    if (isc_attach_database(status, 0, path_.c_str(), handle, static_cast<short>(dpb_.size()),
                            dpb_.data()) != 0) {
        *error = ErrorText(status);
        return false;
    }
    return true;
}

int ClientSide::Connect(std::string* error) {
    isc_db_handle handle = 0;
    if (!Attach(&handle, error)) {
        return -1;
    }
    attachments_.push_back(handle);
    return static_cast<int>(attachments_.size()) - 1;
}

void ClientSide::Callback(void* arg, ISC_USHORT length, const ISC_UCHAR* updated) {
    const Clock::time_point now = Clock::now();
    Request* r = static_cast<Request*>(arg);
    if (updated == nullptr || length == 0) {
        return;  // cancelled, or the attachment is gone
    }
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!r->active) {
        return;
    }
    std::memcpy(r->result, updated, std::min<size_t>(length, static_cast<size_t>(r->length)));
    ISC_ULONG counts[15] = {};  // at most 15 names in a block
    isc_event_counts(counts, r->length, r->events, r->result);
    r->side->log.Add(now, static_cast<int64_t>(counts[0]));
    ISC_STATUS_ARRAY status;
    isc_que_events(status, &r->db, &r->id, r->length, r->events, Callback, r);
}

bool ClientSide::Subscribe(int connection, const std::string& eventName, std::string* error) {
    auto request = std::make_unique<Request>();
    Request* r = request.get();
    r->side = this;
    r->connection = connection;
    r->db = attachments_[static_cast<size_t>(connection)];
    r->length = static_cast<short>(isc_event_block(&r->events, &r->result, 1, eventName.c_str()));
    requests_.push_back(std::move(request));
    // Held while queueing: the first callback may come before the call returns.
    std::lock_guard<std::mutex> lock(r->mutex);
    ISC_STATUS_ARRAY status;
    if (isc_que_events(status, &r->db, &r->id, r->length, r->events, Callback, r) != 0) {
        r->active = false;
        *error = ErrorText(status);
        return false;
    }
    return true;
}

void ClientSide::Disconnect(int connection) {
    isc_db_handle& handle = attachments_[static_cast<size_t>(connection)];
    if (handle == 0) {
        return;
    }
    ISC_STATUS_ARRAY status;
    for (const auto& request : requests_) {
        Request* r = request.get();
        if (r->connection != connection || r->db != handle) {
            continue;
        }
        ISC_LONG id;
        {
            std::lock_guard<std::mutex> lock(r->mutex);
            if (!r->active) {
                continue;
            }
            r->active = false;
            id = r->id;
        }
        isc_cancel_events(status, &handle, &id);
    }
    isc_detach_database(status, &handle);
    handle = 0;
}

bool ClientSide::WaitFor(const std::function<bool()>& done, Clock::time_point deadline,
                         Clock::duration slice) {
    for (;;) {
        const uint64_t seen = log.Generation();
        if (done()) {
            return true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        log.WaitForChange(seen, std::min(now + slice, deadline));
    }
}

int ClientSide::CountAttachments() {
    isc_db_handle handle = 0;
    std::string error;
    if (!Attach(&handle, &error)) {
        return -1;
    }
    ISC_STATUS_ARRAY status;
    char item = isc_info_user_names;
    char buffer[8192];
    int count = -1;
    if (isc_database_info(status, &handle, 1, &item, sizeof buffer, buffer) == 0) {
        // One isc_info_user_names item per attachment, its own included.
        count = 0;
        for (const char* p = buffer; *p == isc_info_user_names && p + 3 <= buffer + sizeof buffer;
             p += 3 + isc_vax_integer(p + 1, 2)) {
            ++count;
        }
        --count;
    }
    isc_detach_database(status, &handle);
    return count;
}

}  // namespace bench
