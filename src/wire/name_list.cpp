#include "wire/name_list.h"

namespace {

constexpr size_t kMaxNames = 8;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

bool SameNameIgnoringCase(const char* text, size_t length, const char* name) {
    for (size_t i = 0; i < length; ++i) {
        if (name[i] == '\0' || Lower(text[i]) != Lower(name[i])) {
            return false;
        }
    }
    return name[length] == '\0';
}

int FindName(const char* text, size_t length, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (SameNameIgnoringCase(text, length, names[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool ParseNameList(const AnsiString& text, const char* const* names, size_t nameCount,
                   uint8_t* chosen, size_t* chosenCount, AnsiString* unknown) {
    uint8_t parsed[kMaxNames];
    size_t count = 0;
    const char* p = text.CStr();
    while (*p != '\0') {
        while (*p == ',' || *p == ' ' || *p == '\t') {
            ++p;
        }
        const char* start = p;
        while (*p != '\0' && *p != ',' && *p != ' ' && *p != '\t') {
            ++p;
        }
        if (p == start) {
            break;
        }
        const int found = FindName(start, static_cast<size_t>(p - start), names,
                                   nameCount < kMaxNames ? nameCount : kMaxNames);
        if (found < 0) {
            *unknown = AnsiString(start, static_cast<size_t>(p - start));
            return false;
        }
        bool repeated = false;
        for (size_t i = 0; i < count; ++i) {
            repeated = repeated || parsed[i] == found;
        }
        if (!repeated) {
            parsed[count++] = static_cast<uint8_t>(found);
        }
    }
    if (count == 0) {
        *unknown = text;
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        chosen[i] = parsed[i];
    }
    *chosenCount = count;
    return true;
}

AnsiString JoinNames(const char* const* names, const uint8_t* indexes, size_t count) {
    AnsiString text;
    for (size_t i = 0; i < count; ++i) {
        text.Append(i > 0 ? ", " : "");
        text.Append(names[indexes[i]]);
    }
    return text;
}
