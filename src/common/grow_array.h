#pragma once
// GrowArray: an ordered, growable array with value semantics. Its storage doubles
// its capacity each time it runs full (1, 2, 4, 8 ...). An append that cannot get
// memory leaves the array unchanged and reports false.

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

template <typename T>
class GrowArray {
public:
    size_t Size() const { return items_.size(); }
    bool IsEmpty() const { return items_.empty(); }
    size_t Capacity() const { return items_.capacity(); }

    T& operator[](size_t index) { return items_[index]; }
    const T& operator[](size_t index) const { return items_[index]; }

    bool Append(const T& item) {
        try {
            Reserve();
            items_.push_back(item);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    bool Append(T&& item) {
        try {
            Reserve();
            items_.push_back(std::move(item));
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // Removes the item at index; the later items move down by one.
    void RemoveAt(size_t index) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void RemoveLast() { items_.pop_back(); }
    void Clear() { items_.clear(); }

    typename std::vector<T>::iterator begin() { return items_.begin(); }
    typename std::vector<T>::iterator end() { return items_.end(); }
    typename std::vector<T>::const_iterator begin() const { return items_.begin(); }
    typename std::vector<T>::const_iterator end() const { return items_.end(); }

private:
    void Reserve() {
        if (items_.size() == items_.capacity()) {
            items_.reserve(items_.capacity() == 0 ? 1 : items_.capacity() * 2);
        }
    }
    std::vector<T> items_;
};
