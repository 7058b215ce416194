#include "host/subscription_table.h"

#include "platform/text.h"

int SubscriptionTable::Find(const AnsiString& eventName) const {
    for (int i = 0; i < kRecords; ++i) {
        if (records_[i].inUse &&
            platform::CompareTextLocale(records_[i].eventName.CStr(), eventName.CStr()) == 0) {
            return i;
        }
    }
    return -1;
}

bool SubscriptionTable::Store(const AnsiString& eventName, const AnsiString& commandTemplate) {
    int index = Find(eventName);
    if (index < 0) {
        for (int i = 0; i < kRecords; ++i) {
            if (!records_[i].inUse) {
                index = i;
                break;
            }
        }
        if (index < 0) {
            return false;
        }
        records_[index].eventName = eventName;
        records_[index].inUse = 1;
    }
    records_[index].commandTemplate = commandTemplate;
    return true;
}

void SubscriptionTable::Free(int index) {
    if (index >= 0 && index < kRecords) {
        records_[index].inUse = 0;
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
