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
