#pragma once
// SubscriptionTable: the host-side record of which command template runs when an
// event fires. 50 records for the whole library, keyed by event name: the same name
// on two connections shares one record and its template. Each record knows the
// connections that subscribe it, and is freed only when the last of them
// unsubscribes. Used only on the host's main thread, so it has no lock.

#include <cstdint>

#include "common/ansi_string.h"
#include "common/grow_array.h"

struct Subscription {
    uint8_t inUse = 0;
    AnsiString eventName;
    AnsiString commandTemplate;
    // The connections (handles) that subscribe the name.
    GrowArray<int32_t> connections;
};

class SubscriptionTable {
public:
    static constexpr int kRecords = 50;

    // The index of the first record in use whose event name matches, or -1.
    int Find(const AnsiString& eventName) const;
    // True when a record can take eventName: it has one already, or one is free.
    bool HasRoom(const AnsiString& eventName) const;
    // Replaces the template of the record in use with that name, or fills the lowest
    // free record, and counts `connection` among its subscribers. False when no
    // record is free or memory ran out (nothing is stored then).
    bool Store(const AnsiString& eventName, const AnsiString& commandTemplate, int32_t connection);
    // True when `connection` subscribes eventName.
    bool Subscribes(const AnsiString& eventName, int32_t connection) const;
    // `connection` no longer subscribes eventName; the record is freed when no
    // connection does any more.
    void Release(const AnsiString& eventName, int32_t connection);
    // `connection` is gone: it subscribes nothing any more. Its records stay listed.
    void Forget(int32_t connection);
    const Subscription& At(int index) const { return records_[index]; }
    // Every record in use, in index order: name, two tabs, template, line feed.
    AnsiString Listing() const;
    // The names of the records in use, in index order, each ended by a line feed.
    AnsiString Names() const;

private:
    Subscription records_[kRecords];
};
