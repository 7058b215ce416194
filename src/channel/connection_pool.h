#pragma once
// ConnectionPool: the worker thread's slots of open connections. A connection handle
// is its slot index plus one. Disconnecting empties a slot without shrinking the
// pool, and a new connection takes the lowest empty slot, so handles are given out
// again lowest first. Only the worker thread touches the pool, so it has no lock.

#include <cstdint>
#include <memory>

#include "common/grow_array.h"

template <class Database>
class ConnectionPool {
public:
    int32_t Size() const { return static_cast<int32_t>(slots_.Size()); }

    // The connection in a slot, or nullptr for an empty slot or an index outside.
    Database* Slot(int32_t index) const {
        if (index < 0 || index >= Size()) {
            return nullptr;
        }
        return slots_[static_cast<size_t>(index)].get();
    }

    // Places a connection in the lowest empty slot, or in a new slot at the end.
    // Returns the new handle and takes the connection over; returns -1 and leaves
    // `database` with the caller when the pool cannot grow.
    int32_t Place(std::unique_ptr<Database>& database) {
        for (size_t i = 0; i < slots_.Size(); ++i) {
            if (!slots_[i]) {
                slots_[i] = std::move(database);
                return static_cast<int32_t>(i) + 1;
            }
        }
        std::unique_ptr<Database> empty;
        if (!slots_.Append(std::move(empty))) {
            return -1;
        }
        slots_[slots_.Size() - 1] = std::move(database);
        return Size();
    }

    // Destroys the connection in a slot and leaves the slot empty.
    void Empty(int32_t index) {
        if (index >= 0 && index < Size()) {
            slots_[static_cast<size_t>(index)].reset();
        }
    }

private:
    GrowArray<std::unique_ptr<Database>> slots_;
};
