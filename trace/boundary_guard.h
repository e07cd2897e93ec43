// The one guard at every boundary with the host: each exported entry point, window and
// hook procedure, host callback and rich-edit callback runs its body through it. An
// exception must never reach the host: it is contained here, said on the debug trace
// with the place it came from, and the caller gets that place's fallback.
#pragma once

// Writes "EXCEPTION <where>" on the debug trace; throws nothing.
void TraceContainedException(const char* where) noexcept;

// The body's result, or, when it throws, the fallback's.
template <class Body, class Fallback>
auto Guarded(const char* where, Body body, Fallback fallback) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (...) {
        TraceContainedException(where);
    }
    return fallback();
}
