#pragma once
// KeyedArray: an ordered table of (key, value) pairs in insertion order. Keys need
// not be unique; lookup is a linear search for the first pair with an equal key, and
// removing a pair keeps the order of the others.

#include <cstddef>

#include "common/grow_array.h"

template <typename K, typename V>
class KeyedArray {
public:
    size_t Size() const { return keys_.Size(); }
    bool IsEmpty() const { return keys_.IsEmpty(); }

    // Appends a pair; false (and the table unchanged) when memory runs out.
    bool Add(const K& key, const V& value) {
        if (!keys_.Append(key)) {
            return false;
        }
        if (!values_.Append(value)) {
            keys_.RemoveLast();
            return false;
        }
        return true;
    }
    // The index of the first pair whose key equals `key`, or -1.
    int FindKey(const K& key) const {
        for (size_t i = 0; i < keys_.Size(); ++i) {
            if (keys_[i] == key) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    const K& KeyAt(size_t index) const { return keys_[index]; }
    V& ValueAt(size_t index) { return values_[index]; }
    const V& ValueAt(size_t index) const { return values_[index]; }
    void RemoveAt(size_t index) {
        keys_.RemoveAt(index);
        values_.RemoveAt(index);
    }
    void RemoveAll() {
        keys_.Clear();
        values_.Clear();
    }

private:
    GrowArray<K> keys_;
    GrowArray<V> values_;
};
