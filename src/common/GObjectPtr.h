#pragma once

#include <glib-object.h>

#include <memory>

namespace qb {

struct GObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};

// Owns one reference to a GObject: wrap only results that the caller owns
// ("transfer full"), never borrowed pointers.
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree
{
    void operator()(GError *error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

} // namespace qb
