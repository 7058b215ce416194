#pragma once
// The two clients under measurement behind one interface: connections by index,
// subscriptions to event names, and a log of deliveries.
//
// Varnel: loaded into the simulated host; a delivery is the subscriber's command
// running on the host's main thread, which the waits pump.
// Firebird's client: libfbclient's classic API with its default configuration; a
// delivery is its event callback, which runs on the client's own thread, counts the
// firings with isc_event_counts and queues the request again at once.

#include <ibase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
#include "simhost/sim_host.h"
#include "testbed/server_config.h"

namespace bench {

class Side {
public:
    virtual ~Side() = default;
    virtual const char* Name() const = 0;
    // A new connection's index, or -1 with the error.
    virtual int Connect(std::string* error) = 0;
    virtual bool Subscribe(int connection, const std::string& eventName, std::string* error) = 0;
    virtual void Disconnect(int connection) = 0;
    // Waits until done() or the deadline, waking at least every slice; Varnel pumps
    // the host's messages meanwhile. False at the deadline.
    virtual bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline,
                         Clock::duration slice) = 0;

    // Waits until the delivered counts add up to target (after Clear); false at the
    // deadline.
    virtual bool WaitForSum(int64_t target, Clock::time_point deadline) = 0;

    // Lets the first report of new subscriptions arrive (the server answers a new
    // request at once with the current count), then forgets it.
    void Settle(Clock::duration d);

    DeliveryLog log;
};

class VarnelSide : public Side {
public:
    // Loads the library (VARNEL_BENCH_LIBRARY names another build); false with the error.
    bool Load(const varnel_test::TestServerConfig& server, const std::string& keys,
              std::string* error);
    ~VarnelSide() override;
    const char* Name() const override { return "Varnel"; }
    int Connect(std::string* error) override;
    bool Subscribe(int connection, const std::string& eventName, std::string* error) override;
    void Disconnect(int connection) override;
    bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline,
                 Clock::duration slice) override;
    bool WaitForSum(int64_t target, Clock::time_point deadline) override;

private:
    SimHost host_;
    std::string connectText_;
};

class ClientSide : public Side {
public:
    explicit ClientSide(const varnel_test::TestServerConfig& server);
    ~ClientSide() override;
    const char* Name() const override { return "Firebird's client"; }
    int Connect(std::string* error) override;
    bool Subscribe(int connection, const std::string& eventName, std::string* error) override;
    // Cancels the connection's event requests, then detaches.
    void Disconnect(int connection) override;
    bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline,
                 Clock::duration slice) override;
    bool WaitForSum(int64_t target, Clock::time_point deadline) override {
        return log.WaitForSum(target, deadline);
    }
    // The attachments to the database (isc_info_user_names) as a new attachment of
    // its own sees them, itself not counted; -1 when it cannot attach.
    int CountAttachments();
    // A connection's handle, for the firing process's own statements.
    isc_db_handle* Handle(int connection) { return &attachments_[static_cast<size_t>(connection)]; }

    struct Request;

private:
    static void Callback(void* request, ISC_USHORT length, const ISC_UCHAR* updated);
    bool Attach(isc_db_handle* handle, std::string* error);

    std::string path_;
    std::vector<char> dpb_;
    std::vector<isc_db_handle> attachments_;
    // Kept until the end: a callback may still be on its way after a cancel.
    std::vector<std::unique_ptr<Request>> requests_;
};

}  // namespace bench
