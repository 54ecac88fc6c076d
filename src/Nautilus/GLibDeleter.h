#pragma once

#include <memory>

#include <glib-object.h>

namespace corvane {

// Releases a GLib-owned pointer with `Free` (g_object_unref, g_free, ...), so that
// std::unique_ptr can hold references and strings that GLib hands us.
template <auto Free>
struct GLibDeleter {
    template <typename T>
    void operator()(T* pointer) const
    {
        Free(pointer);
    }
};

// One reference to a GObject.
template <typename T>
using GObjectPtr = std::unique_ptr<T, GLibDeleter<g_object_unref>>;
// A string that GLib allocated.
using GCharPtr = std::unique_ptr<char, GLibDeleter<g_free>>;

}  // namespace corvane
