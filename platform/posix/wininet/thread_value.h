// SPDX-License-Identifier: MIT
// A value of each thread's own (the last error) without a TLS block of the
// module's: the module is dlopened, so `thread_local` would be dynamic TLS,
// whose tracking LeakSanitizer (GCC 12) misreads under current glibc and
// crashes on, or initial-exec TLS, taken from the small static surplus that
// every library a host process dlopens shares.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace quorvane::client {

class ThreadValue {
public:
    ThreadValue() : ready_(::pthread_key_create(&key_, nullptr) == 0) {}
    ~ThreadValue()
    {
        if (ready_)
            ::pthread_key_delete(key_);
    }
    ThreadValue(const ThreadValue&) = delete;
    ThreadValue& operator=(const ThreadValue&) = delete;

    // 0 in a thread that never set it.
    std::uintptr_t get() const
    {
        return ready_ ? reinterpret_cast<std::uintptr_t>(::pthread_getspecific(key_)) : 0;
    }
    void set(std::uintptr_t value)
    {
        if (ready_)
            ::pthread_setspecific(key_, reinterpret_cast<void*>(value));
    }

private:
    pthread_key_t key_{};
    bool ready_;
};

}  // namespace quorvane::client
