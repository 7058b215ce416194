#pragma once
// SubscriptionTable: the host-side record of which command template runs when an
// event fires. 50 records for the whole library, keyed by event name alone (the
// connection is not recorded). Used only on the host's main thread, so it has no
// lock.

#include <cstdint>

#include "common/ansi_string.h"

struct Subscription {
    uint8_t inUse = 0;
    AnsiString eventName;
    AnsiString commandTemplate;
};

class SubscriptionTable {
public:
    static constexpr int kRecords = 50;

    // The index of the first record in use whose event name matches, or -1.
    int Find(const AnsiString& eventName) const;
    // Replaces the template of the record in use with that name, or fills the lowest
    // free record. When no record is free nothing is stored and false is returned.
    bool Store(const AnsiString& eventName, const AnsiString& commandTemplate);
    // Marks a record free; indices outside the table are ignored.
    void Free(int index);
    const Subscription& At(int index) const { return records_[index]; }
    // Every record in use, in index order: name, two tabs, template, line feed.
    AnsiString Listing() const;

private:
    Subscription records_[kRecords];
};
