#pragma once
// Events and waits: auto- and manual-reset events, waiting on one of them, and
// waiting on up to 64 with the lowest signalled slot reported first.
//
// Windows: CreateEventA, SetEvent, ResetEvent, WaitForSingleObject,
// WaitForMultipleObjects. POSIX: one process-wide mutex and condition variable
// guard the state of every event, which gives the same semantics exactly.

#include <cstdint>

namespace platform {

using EventHandle = void*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kMaxWaitHandles = 64;

// Results of the waits besides a slot index (0 and up).
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

// Creates an unnamed event; nullptr on failure. An auto-reset event is consumed by
// the one wait that it releases; a manual-reset event stays set until reset.
EventHandle NewEvent(bool manualReset, bool initiallySet);
bool SignalEvent(EventHandle event);
bool ClearEvent(EventHandle event);
// Closing nullptr does nothing.
void CloseEvent(EventHandle event);

// 0 when the event was (or became) set within timeoutMs, kWaitTimeout or
// kWaitFailed otherwise. A time-out of 0 polls; kInfinite waits for ever.
int WaitForEvent(EventHandle event, uint32_t timeoutMs);

// Waits until at least one of `count` events (1 to 64) is set and returns the
// lowest slot that is set, consuming only that one if it is auto-reset.
// kWaitTimeout or kWaitFailed (bad arguments) otherwise.
int WaitForAnyEvent(const EventHandle* events, int count, uint32_t timeoutMs);

}  // namespace platform
