#include "channel/worker.h"

#include "channel/database.h"

uint32_t WorkerThreadProc(void* context) {
    try {
        return RunWorkerLoop<CDatabase>(*static_cast<WorkerContext*>(context));
    } catch (...) {
        return 1;
    }
}
