#pragma once

// libnautilus-extension's headers, with C linkage for the module's entry points, which
// nautilus-extension.h declares outside of any extern "C" block. GLib comes first so that its
// C++ parts are not read inside the extern "C" block.
#include <gio/gio.h>
#include <glib-object.h>
#include <glib.h>

extern "C" {
#include <nautilus-extension.h>
}
