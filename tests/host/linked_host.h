#pragma once
// Helpers for tests that drive the library linked into the test program, so that
// they can replace its worker thread and look at its state.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "channel/request_block.h"
#include "channel/worker.h"
#include "host/library.h"
#include "simhost/sim_host.h"

// A worker that records every request it takes and answers with a scripted reply.
class RecordingWorker {
public:
    static RecordingWorker& Instance() {
        static RecordingWorker worker;
        return worker;
    }
    static uint32_t Proc(void* argument) {
        auto& context = *static_cast<WorkerContext*>(argument);
        while (platform::WaitForEvent(context.requestEvent, platform::kInfinite) == 0) {
            const RequestBlock request = *context.block;
            Instance().Record(request);
            if (request.command == REQ_QUIT) {
                break;
            }
            context.block->handle = Instance().replyHandle;
            CopyToField(context.block->text, Instance().replyText.c_str());
            platform::SignalEvent(context.replyEvent);
        }
        platform::SignalEvent(context.replyEvent);
        return 0;
    }
    void Record(const RequestBlock& request) {
        std::lock_guard<std::mutex> guard(mutex);
        requests.push_back(request);
    }
    std::vector<RequestBlock> Requests() {
        std::lock_guard<std::mutex> guard(mutex);
        return requests;
    }
    void Reset(int32_t handle = 1, std::string text = "") {
        std::lock_guard<std::mutex> guard(mutex);
        requests.clear();
        replyHandle = handle;
        replyText = std::move(text);
    }

    int32_t replyHandle = 1;
    std::string replyText;

private:
    std::mutex mutex;
    std::vector<RequestBlock> requests;
};

// A simulated host with the linked-in library loaded and a recording worker.
class LinkedHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        RecordingWorker::Instance().Reset();
        SetWorkerProcForTesting(&RecordingWorker::Proc);
        ASSERT_TRUE(host.LoadLinked(&DispatchAPI));
        ASSERT_TRUE(Library().ready);
    }
    void TearDown() override {
        host.Unload();
        SetWorkerProcForTesting(nullptr);
    }
    // The requests the worker took.
    std::vector<RequestBlock> Sent() { return RecordingWorker::Instance().Requests(); }

    SimHost host;
};

using A = SimHost::Arg;
