#pragma once
// The library linked into the test program and loaded by a simulated host, with its
// worker thread replaced by one that records every request and answers as scripted.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "channel/request_block.h"
#include "channel/worker.h"
#include "host/library.h"
#include "simhost/sim_host.h"

class RecordingWorker {
public:
    static RecordingWorker& Instance() {
        static RecordingWorker worker;
        return worker;
    }
    static uint32_t Proc(void* argument) {
        auto& context = *static_cast<WorkerContext*>(argument);
        RecordingWorker& self = Instance();
        while (platform::WaitForEvent(context.requestEvent, platform::kInfinite) == 0) {
            std::lock_guard<std::mutex> guard(self.mutex_);
            self.requests_.push_back(*context.block);
            if (context.block->command == REQ_QUIT) {
                break;
            }
            context.block->handle = self.replyHandle_;
            CopyToField(context.block->text, self.replyText_.c_str());
            platform::SignalEvent(context.replyEvent);
        }
        platform::SignalEvent(context.replyEvent);
        return 0;
    }
    // Forgets the requests; later ones are answered with handle and text.
    void Reset(int32_t handle = 1, std::string text = "") {
        std::lock_guard<std::mutex> guard(mutex_);
        requests_.clear();
        replyHandle_ = handle;
        replyText_ = std::move(text);
    }
    std::vector<RequestBlock> Requests() {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }

private:
    std::mutex mutex_;
    std::vector<RequestBlock> requests_;
    int32_t replyHandle_ = 1;
    std::string replyText_;
};

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
    std::vector<RequestBlock> Sent() { return RecordingWorker::Instance().Requests(); }
    void Reply(int32_t handle, std::string text = "") {
        RecordingWorker::Instance().Reset(handle, std::move(text));
    }

    SimHost host;
};

using A = SimHost::Arg;
