#pragma once

// A worker thread's result reaches the GUI thread through Qt's event queue, which orders the worker's
// writes before the GUI thread's reads. Debian's Qt is not built for ThreadSanitizer, so TSan cannot see
// that order and would report the hand-over as a race. These marks tell it; in other builds they are
// empty. The worker marks the result after its last write; the GUI thread before its first read.

#if defined(__SANITIZE_THREAD__)
#define VAXEL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VAXEL_TSAN 1
#endif
#endif

#ifdef VAXEL_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

inline void markHandOverSent(const void* result)
{
    __tsan_release(const_cast<void*>(result));
}

inline void markHandOverReceived(const void* result)
{
    __tsan_acquire(const_cast<void*>(result));
}
#else
inline void markHandOverSent(const void*) { }
inline void markHandOverReceived(const void*) { }
#endif
