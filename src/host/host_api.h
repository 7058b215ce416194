#pragma once
// The host operations as the library calls them. The host hands its operation table
// to the dispatch entry; these wrappers call through it.
//
// HostRaiseError and HostRaiseErrorNumber do not return: after the host has recorded
// the error they unwind the host function to the dispatch entry, which then returns
// to the host. Code between a raise and the dispatch entry therefore never runs.

#include <cstdint>

#include "common/ansi_string.h"
#include "host/host_abi.h"
#include "platform/window.h"

namespace host {

// Binds the operations that every later call uses; nullptr unbinds.
void BindHost(const hostabi::HostOperations* operations);
bool IsHostBound();

int32_t HostExecute(const char* command);
void HostReturnInteger(int32_t value, int16_t width);
// Allocates a handle of the text's length + 1 bytes, copies the text with its NUL
// and hands it over as an 'H' result. When the handle cannot be had, no result is
// set.
void HostReturnString(const AnsiString& text);
[[noreturn]] void HostRaiseError(const char* message);
[[noreturn]] void HostRaiseErrorNumber(int32_t number);
// Hands the host an error without unwinding; only the dispatch entry uses it, for a
// failure it caught itself.
void ReportHostError(const char* message);
uint32_t HostMainWindow(int32_t a, int32_t b);
platform::WindowHandle HostWindowToHwnd(uint32_t hostWindow);
bool HostSetHandleSize(uint32_t handle, uint32_t size);
void* HostHandleToPointer(uint32_t handle);

// Thrown by the raise operations and caught only by the dispatch entry.
struct HostErrorRaised {};

// The host error number for "not enough memory for a character argument".
constexpr int32_t kErrorHandleCannotGrow = 182;

// Prepares a character argument the way every host function does before any check
// of its own: grows the handle by one byte (raising 182 when it cannot), writes a
// NUL at the value's length, and copies the text up to its first NUL.
AnsiString PrepareCharacterArgument(const hostabi::Value& value);

}  // namespace host
