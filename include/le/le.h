/* le: real-time talking-head video of one pre-recorded person.
 *
 * Core family: sessions and frames, bundle resolution, prior rows. Every export of this family that
 * can fail clears the calling thread's last-error text on entry and, on failure, sets it to
 * "<export name>: <reason>"; read it with le_last_error(). */
#ifndef LE_H
#define LE_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Keypoints per frame of every core interface: 21 rows of (x, y, z), 63 contiguous floats. */
#define LE_HOST_KP_ROWS 21

/* The calling thread's last-error text of the core family. Never NULL; empty when the last core
 * export on this thread that can fail succeeded. Valid until the next core export call on this
 * thread. */
LE_API const char* le_last_error(void);

/* The keypoint row count, LE_HOST_KP_ROWS (21). */
LE_API int le_host_kp_rows(void);

/* Resolves a bundle handle (a directory, an IMX container, or a name whose ".imx" sibling is a
 * container) to the bundle's root directory, unwrapping a container once and reusing it while the
 * container is unchanged. Writes the NUL-terminated root into out (outLen bytes).
 * Returns 1 on success, -1 on failure: NULL arguments (last error left empty), a buffer too small,
 * or a failed unwrap (see le_last_error()). */
LE_API int le_bundle_resolve_handle(const char* handle, char* out, size_t outLen);

/* Resolves the member `name` (its short name; the descriptive form is found too) of the bundle
 * `bundle` and writes its NUL-terminated path into out (outLen bytes).
 * Returns 1 when that file opens for reading, 0 when it does not, -1 on NULL arguments, a buffer
 * too small, or a bundle handle that cannot be resolved. Does not touch le_last_error(). */
LE_API int le_bundle_resolve_member(const char* bundle, const char* name, char* out, size_t outLen);

#ifdef __cplusplus
}  /* extern "C" */

namespace le {
inline constexpr int kHostKpRows = LE_HOST_KP_ROWS;
}  // namespace le
#endif

#endif /* LE_H */
