/* le_tessera: the teeth bank of a bundle, through plain C. A host that arms the teeth borrow works
 * in three steps: it asks which of the four teeth members a bundle carries (the carriage), loads
 * them (the members), decodes the bank track with its own decoder and puts the frames in donor
 * order (le_tessera_members_reorder); then it attaches the borrow to a live pipeline
 * (le_utt.h) or runs the teeth pass offline over a batch of rendered crops (le_tessera_run).
 *
 * Nothing here throws or aborts. Handle-returning functions return NULL on failure; functions
 * returning int32_t return 1 on failure; accessors return 0, NULL or "" for a NULL handle.
 *
 * Error buffers: where a function takes err and err_len, a failure copies its message there, cut
 * to err_len - 1 bytes and always NUL-terminated; nothing is written when err is NULL or
 * err_len <= 0. */
#ifndef LE_TESSERA_H
#define LE_TESSERA_H

#include <stddef.h>
#include <stdint.h>

#include "le_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Slots ---------------------------------------------------------------------------------- */

/* The number of teeth members: 4. */
LE_API int32_t le_tessera_slot_count(void);

/* The key of slot i in slot order ("bank_track", "bank_sidecar", "head_weights", "head_config"),
 * or NULL when i is outside 0..3. Static storage. */
LE_API const char* le_tessera_slot_key(int32_t i);

/* ---- Carriage: which members a bundle carries --------------------------------------------- */

typedef struct le_tessera_carriage le_tessera_carriage;

/* Opens the carriage of a bundle (directory or IMX container). Returns NULL when bundle is NULL or
 * memory runs out. A bundle whose carriage cannot be worked out (no manifest, a member name the
 * manifest spells wrongly) still gives a handle: default member names, empty paths, not complete,
 * not declared, nothing missing. */
LE_API le_tessera_carriage* le_tessera_carriage_open(const char* bundle);
LE_API void le_tessera_carriage_close(le_tessera_carriage* h);

/* 1 when all four members open, else 0. */
LE_API int32_t le_tessera_carriage_complete(const le_tessera_carriage* h);
/* 1 when the manifest declares the teeth borrow (carries a "tessera" object), else 0. */
LE_API int32_t le_tessera_carriage_declared(const le_tessera_carriage* h);
/* The resolved path of the slot with that key; "" for a NULL handle or key and for an unknown key.
 * Valid until the next le_tessera_carriage_path call on this handle or its close. */
LE_API const char* le_tessera_carriage_path(le_tessera_carriage* h, const char* key);
/* The number of slot keys whose member does not open, and the i-th of them (NULL out of range;
 * valid until the handle is closed). */
LE_API int32_t le_tessera_carriage_missing_count(const le_tessera_carriage* h);
LE_API const char* le_tessera_carriage_missing(const le_tessera_carriage* h, int32_t i);

/* ---- Members: the four members loaded and validated ---------------------------------------- */

typedef struct le_tessera_members le_tessera_members;

/* Loads and validates the four members of a bundle. Returns NULL on failure with the message in
 * err: "le_tessera_members_open: null bundle_dir", "le_tessera_members_open: out of memory", the
 * loader's own message (a missing member gives the ruling that names every missing slot), or
 * "le_tessera_members_open: unknown failure". */
LE_API le_tessera_members* le_tessera_members_open(const char* bundle_dir, char* err, int32_t err_len);
LE_API void le_tessera_members_close(le_tessera_members* h);

/* Bank sizes: donors, stored patch width and height, and n_donors * band_h * band_w * 3 (the bytes
 * of the whole bank in either order). */
LE_API int32_t le_tessera_members_n_donors(const le_tessera_members* h);
LE_API int32_t le_tessera_members_band_w(const le_tessera_members* h);
LE_API int32_t le_tessera_members_band_h(const le_tessera_members* h);
LE_API int64_t le_tessera_members_band_bytes(const le_tessera_members* h);

/* Arrays owned by the handle, valid until it is closed; NULL for a NULL handle or an empty array.
 * cent: n_donors (x, y) pairs; aperture: n_donors values; head_pt: the head weights file
 * (le_tessera_members_head_pt_len bytes); c_canon: the canonical mouth centre (x, y); stamp: the
 * twelve geometry numbers (canvas_w, canvas_h, window_x0, window_y0, window_w, window_h, pad,
 * band_r0, band_r1, band_c0, band_c1, shift_margin). */
LE_API const double* le_tessera_members_cent(const le_tessera_members* h);
LE_API const double* le_tessera_members_aperture(const le_tessera_members* h);
LE_API const uint8_t* le_tessera_members_head_pt(const le_tessera_members* h);
LE_API int32_t le_tessera_members_head_pt_len(const le_tessera_members* h);
LE_API const double* le_tessera_members_c_canon(const le_tessera_members* h);
LE_API const int32_t* le_tessera_members_stamp(const le_tessera_members* h);

/* Texts owned by the handle ("" for a NULL handle), valid until it is closed: the head config and
 * manifest documents, the bank track's path, and the track's container, codec, pixel format and
 * packing as the sidecar declares them. */
LE_API const char* le_tessera_members_head_json(const le_tessera_members* h);
LE_API const char* le_tessera_members_manifest_json(const le_tessera_members* h);
LE_API const char* le_tessera_members_bank_track_path(const le_tessera_members* h);
LE_API const char* le_tessera_members_bank_container(const le_tessera_members* h);
LE_API const char* le_tessera_members_bank_codec(const le_tessera_members* h);
LE_API const char* le_tessera_members_bank_pix_fmt(const le_tessera_members* h);
LE_API const char* le_tessera_members_bank_packing(const le_tessera_members* h);

/* Copies the decoded bank track (le_tessera_members_band_bytes bytes of band patches in track
 * order, packed RGB8) into out in donor order. Returns 0, or 1 with the message in err
 * ("le_tessera_members_reorder: null argument" for a NULL handle or buffer). */
LE_API int32_t le_tessera_members_reorder(const le_tessera_members* h, const uint8_t* track, uint8_t* out,
                                          char* err, int32_t err_len);

/* ---- Offline teeth pass --------------------------------------------------------------------- */

/* A row shift of this value in le_tessera_run_shift's shifts means "derive this frame's shift". */
#define LE_TESSERA_NO_SHIFT (-10000)

/* Runs the teeth pass over `frames` rendered crops, one frame behind, and flushes it at the end.
 *   donors:   the bank in donor order, n_donors * band_h * band_w * 3 bytes (sizes from the stamp)
 *   cent:     n_donors (x, y) pairs;  c_canon: (x, y);  aperture: n_donors values
 *   stamp:    the twelve geometry numbers (see le_tessera_members_stamp)
 *   head_pt, head_pt_len: the head weights file;  head_json: the head config text
 *   canvases: `frames` crops of canvas_w * canvas_h * 3 bytes (RGB8), one after another
 *   pis:      `frames` mouth-interior masks of canvas_w * canvas_h bytes
 *   shifts:   NULL, or `frames` (row, column) pairs; a row of LE_TESSERA_NO_SHIFT derives that
 *             frame's shift from its mask
 *   out:      room for `frames` teeth windows of window_w * window_h * 3 bytes (RGB8)
 *   refused:  `frames` flags
 * Emitted frame k (in emission order, which is frame order) writes refused[k] and, when it is not
 * refused, window k of out; a refused frame leaves its window untouched. Returns 0 when every frame
 * was emitted, else 1 with the message in err ("teeth: emitted <n> of <frames> frames", or the
 * reason the bank, the head or a frame was refused). */
LE_API int32_t le_tessera_run_shift(const uint8_t* donors, int32_t n_donors, const double* cent,
                                    const double* c_canon, const double* aperture, const int32_t* stamp,
                                    const uint8_t* head_pt, int32_t head_pt_len, const char* head_json,
                                    const uint8_t* canvases, const uint8_t* pis, const int32_t* shifts,
                                    int32_t frames, uint8_t* out, int32_t* refused, char* err,
                                    int32_t err_len);

/* le_tessera_run_shift with every shift derived from the masks. */
LE_API int32_t le_tessera_run(const uint8_t* donors, int32_t n_donors, const double* cent, const double* c_canon,
                              const double* aperture, const int32_t* stamp, const uint8_t* head_pt,
                              int32_t head_pt_len, const char* head_json, const uint8_t* canvases,
                              const uint8_t* pis, int32_t frames, uint8_t* out, int32_t* refused, char* err,
                              int32_t err_len);

#ifdef __cplusplus
}
#endif

#endif /* LE_TESSERA_H */
