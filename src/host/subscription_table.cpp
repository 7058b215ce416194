#include "host/subscription_table.h"

#include "platform/text.h"

namespace {

int IndexOf(const GrowArray<int32_t>& connections, int32_t connection) {
    for (size_t i = 0; i < connections.Size(); ++i) {
        if (connections[i] == connection) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

int SubscriptionTable::Find(const AnsiString& eventName) const {
    for (int i = 0; i < kRecords; ++i) {
        if (records_[i].inUse &&
            platform::CompareTextLocale(records_[i].eventName.CStr(), eventName.CStr()) == 0) {
            return i;
        }
    }
    return -1;
}

bool SubscriptionTable::HasRoom(const AnsiString& eventName) const {
    if (Find(eventName) >= 0) {
        return true;
    }
    for (const Subscription& record : records_) {
        if (!record.inUse) {
            return true;
        }
    }
    return false;
}

bool SubscriptionTable::Store(const AnsiString& eventName, const AnsiString& commandTemplate,
                              int32_t connection) {
    int index = Find(eventName);
    if (index < 0) {
        for (int i = 0; i < kRecords && index < 0; ++i) {
            index = records_[i].inUse ? -1 : i;
        }
        if (index < 0) {
            return false;
        }
        records_[index] = Subscription();
        records_[index].eventName = eventName;
    }
    Subscription& record = records_[index];
    if (IndexOf(record.connections, connection) < 0 && !record.connections.Append(connection)) {
        return false;
    }
    record.inUse = 1;
    record.commandTemplate = commandTemplate;
    return true;
}

bool SubscriptionTable::Subscribes(const AnsiString& eventName, int32_t connection) const {
    const int index = Find(eventName);
    return index >= 0 && IndexOf(records_[index].connections, connection) >= 0;
}

void SubscriptionTable::Release(const AnsiString& eventName, int32_t connection) {
    const int index = Find(eventName);
    if (index < 0) {
        return;
    }
    Subscription& record = records_[index];
    const int at = IndexOf(record.connections, connection);
    if (at >= 0) {
        record.connections.RemoveAt(static_cast<size_t>(at));
    }
    if (record.connections.IsEmpty()) {
        record.inUse = 0;
    }
}

void SubscriptionTable::Forget(int32_t connection) {
    for (Subscription& record : records_) {
        const int at = IndexOf(record.connections, connection);
        if (at >= 0) {
            record.connections.RemoveAt(static_cast<size_t>(at));
        }
    }
}

AnsiString SubscriptionTable::Listing() const {
    AnsiString text;
    for (const Subscription& record : records_) {
        if (record.inUse) {
            text.Append(record.eventName);
            text.Append("\t\t");
            text.Append(record.commandTemplate);
            text.Append("\n");
        }
    }
    return text;
}

AnsiString SubscriptionTable::Names() const {
    AnsiString text;
    for (const Subscription& record : records_) {
        if (record.inUse) {
            text.Append(record.eventName);
            text.Append("\n");
        }
    }
    return text;
}
