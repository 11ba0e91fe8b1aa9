/* le: telemetry family (le_tel_).
 *
 * A process-wide store of named values that the host (or any layer above the library) records
 * about a running deployment: numbers (frame rate, frame totals, load time, ...) and texts (the
 * model in use, ...). The library itself records nothing. The values are read back, together with
 * a description of the machine, as one JSON snapshot; snapshots can be queued and delivered in
 * batches to a collection service.
 *
 * Snapshot: one JSON object without white space, members in this order:
 *   "ts"            seconds since the Unix epoch, when the snapshot was built
 *   "os"            "linux"
 *   "os_version"    the kernel release (uname), "" when unknown
 *   "device_model"  the text recorded under "device_model", else ""
 *   "arch"          the machine name (uname), "" when unknown
 *   "cpu_cores"     hardware threads, 0 when unknown
 *   "ram_bytes"     total RAM, 0 when unknown
 *   "sdk_version"   this library's version, "major.minor.patch"
 *   then those of "fps_ema", "frames_total", "session_s", "load_ms", "thermal_state" that have a
 *   recorded number, in this order;
 *   "model_key"     only when a text was recorded under "model_key"
 *   "extra"         an object, possibly empty: every other number in byte-wise key order, then
 *                   every other text (neither "model_key" nor "device_model") in key order.
 * A number that is a whole value within the 64-bit signed range is written as an integer (1200);
 * any other finite number with six significant digits (24.5, 1e-07, 1e+19); NaN and the
 * infinities as null. Keys and texts are written as JSON strings: '"' and '\' take a backslash,
 * line feed and tab become \n and \t, other bytes below 0x20 become \u00XX; well-formed UTF-8
 * passes unchanged, and every byte that does not belong to a well-formed UTF-8 sequence is
 * written as \ufffd (one per byte), so the snapshot is always valid JSON.
 *
 * Delivery: the environment variable LE_TEL_URL, read at every le_tel_flush, names the collection
 * service. Unset: delivery is not available. Set to "" or "off": delivery is switched off. Any
 * other value is the service's base URL (http or https; trailing slashes are dropped): the batch is
 * sent as an HTTP POST to <LE_TEL_URL>/v1/telemetry/ingest with the content type application/json
 * and the body {"batch":[<snapshot>,...]}, oldest snapshot first. Connecting and the whole
 * exchange are each limited to 2 seconds.
 *
 * Threads: every export may be called from any thread at any time; one lock inside the library
 * serialises them, and the delivery itself runs outside it, so recording never waits for a slow
 * collection service. */
#ifndef LE_TEL_H
#define LE_TEL_H

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Most snapshots kept for delivery; a flush that would queue more drops the oldest first. */
#define LE_TEL_MAX_PENDING 256

/* Sets the number under key (inserting or overwriting). A NULL or empty key is ignored. */
LE_API void le_tel_record(const char* key, double value);

/* Sets the text under key to a copy of value. A NULL or empty key, or a NULL value, is ignored. */
LE_API void le_tel_record_str(const char* key, const char* value);

/* The pending state as one JSON object without white space: {"queued":<snapshots waiting for
 * delivery>,"snapshot":<a snapshot built now>}. Never NULL. The text belongs to the calling
 * thread and stays valid until that thread's next le_tel_pending_json call; it is empty only when
 * the library ran out of memory building it. */
LE_API const char* le_tel_pending_json(void);

/* Builds a snapshot, queues it (keeping the newest LE_TEL_MAX_PENDING) and delivers the whole
 * queue. Returns:
 *    0  the service answered HTTP 200: the queue is emptied (snapshots queued by other threads
 *       during the delivery too); also when delivery is switched off (nothing built or queued);
 *   -1  delivery is not available (LE_TEL_URL unset); nothing built or queued;
 *   -2  nothing was delivered (no connection, timeout, a URL that is not http or https, out of
 *       memory); the reason is logged as a line beginning "[le] telemetry:"; the queue is kept;
 *   -3  the service answered with a status other than 200, which is logged the same way; the
 *       queue is kept. */
LE_API int le_tel_flush(void);

#ifdef __cplusplus
}
#endif

#endif /* LE_TEL_H */
