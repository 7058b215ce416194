#include "platform/lock.h"

#include <pthread.h>

#include <new>

namespace platform {

Lock::Lock() {
    static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");
    new (storage_) pthread_mutex_t;
    pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr);
}
Lock::~Lock() {
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void Lock::Enter() {
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}
bool Lock::TryEnter() {
    return pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(storage_)) == 0;
}
void Lock::Leave() {
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

}  // namespace platform
