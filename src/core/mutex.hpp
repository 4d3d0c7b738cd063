// A mutex that needs nothing from the C++ runtime (a C program links the static library with
// the C compiler), and its scoped lock. Statically initialised and never destroyed, which a
// default mutex allows, so it can live in objects built at compile time.
#pragma once

#include <pthread.h>

namespace uhf {

class Mutex {
public:
    constexpr Mutex() = default;
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
    void lock() { pthread_mutex_lock(&m_); }
    void unlock() { pthread_mutex_unlock(&m_); }

private:
    pthread_mutex_t m_ = PTHREAD_MUTEX_INITIALIZER;
};

class Lock {
public:
    explicit Lock(Mutex &m) : m_(m) { m_.lock(); }
    ~Lock() { m_.unlock(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    Mutex &m_;
};

}  // namespace uhf
