#pragma once

#include <glib-object.h>

#include "Nautilus/GLibDeleter.h"

namespace corvane {

// A weak reference to a GObject: it keeps nothing alive and reads as null once the object is
// gone. GLib tracks the reference by its address, so it neither copies nor moves. One thread.
class GWeakObjectRef {
public:
    explicit GWeakObjectRef(gpointer object) { g_weak_ref_init(&m_ref, object); }
    ~GWeakObjectRef() { g_weak_ref_clear(&m_ref); }
    GWeakObjectRef(const GWeakObjectRef&) = delete;
    GWeakObjectRef& operator=(const GWeakObjectRef&) = delete;

    // A strong reference to the object, or null when it is gone.
    GObjectPtr<GObject> get() const
    {
        return GObjectPtr<GObject>(static_cast<GObject*>(g_weak_ref_get(&m_ref)));
    }

private:
    mutable GWeakRef m_ref;
};

}  // namespace corvane
