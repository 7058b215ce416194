#pragma once
// Lists of names from a small fixed set, as the connection string's keys give them
// (authclient=, wirecryptplugin=): names separated by commas or blanks, in any case,
// each counted once, kept in the order given.

#include <cstddef>
#include <cstdint>

#include "common/ansi_string.h"

// True when the `length` bytes at text (zero bytes too) are `name`, ignoring the case
// of ASCII letters. Nothing past name's end is read.
bool SameNameIgnoringCase(const char* text, size_t length, const char* name);

// The index of the name among names[0, count) that the bytes are; -1 when none.
int FindName(const char* text, size_t length, const char* const* names, size_t count);

// Reads `text` into indexes of names[0, nameCount): at most nameCount of them, in
// order, each once. False for an empty list or an unknown name, which is then in
// *unknown; *chosen and *chosenCount are then unchanged.
bool ParseNameList(const AnsiString& text, const char* const* names, size_t nameCount,
                   uint8_t* chosen, size_t* chosenCount, AnsiString* unknown);

// "A, B, C": the names of the indexes, as messages and CNCT_plugin_list show a list.
AnsiString JoinNames(const char* const* names, const uint8_t* indexes, size_t count);

// An ordered choice of names from a fixed set: the enumeration Name's values are the
// indexes of the set's texts.
template <class Name, size_t N>
struct NameList {
    static constexpr size_t kMax = N;
    Name items[N] = {};
    size_t count = 0;

    bool Contains(Name name) const {
        for (size_t i = 0; i < count; ++i) {
            if (items[i] == name) {
                return true;
            }
        }
        return false;
    }
    // "A, B": the names of the items among the set's texts.
    AnsiString TextFrom(const char* const* names) const {
        uint8_t indexes[N];
        for (size_t i = 0; i < count; ++i) {
            indexes[i] = static_cast<uint8_t>(items[i]);
        }
        return JoinNames(names, indexes, count);
    }
    // Reads a list as ParseNameList does; the list is unchanged when it fails.
    bool ParseFrom(const AnsiString& text, const char* const* names, AnsiString* unknown) {
        uint8_t indexes[N];
        size_t parsed = 0;
        if (!ParseNameList(text, names, N, indexes, &parsed, unknown)) {
            return false;
        }
        for (size_t i = 0; i < parsed; ++i) {
            items[i] = static_cast<Name>(indexes[i]);
        }
        count = parsed;
        return true;
    }
};
