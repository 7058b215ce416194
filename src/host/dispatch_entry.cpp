// The library's one exported entry. (Being written.)
#include "host/host_abi.h"

extern "C" VARNEL_EXPORT void VARNEL_FASTCALL DispatchAPI(hostabi::DispatchRequest* request) {
    if (request != nullptr) {
        request->status = hostabi::kStatusBadRequest;
    }
}
