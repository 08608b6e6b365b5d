#pragma once

// Which failures of a call mean that no Secret Service can be reached now, as opposed to one
// that answered with an error: the silent read and the panel's store map both the same way.

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

gboolean quorvane_means_service_unreachable(const GError* error);

#ifdef __cplusplus
}
#endif
