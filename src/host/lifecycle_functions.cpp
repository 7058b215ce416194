// The two hooks as host functions.
#include "host/host_functions.h"
#include "host/library.h"

void VARNEL_CDECL VARNEL_INIT(hostabi::ParamBlock*) {
    VarnelInit();
}

void VARNEL_CDECL VARNEL_EXIT(hostabi::ParamBlock*) {
    VarnelExit();
}
