/* Symbol export macro shared by every public header of le. */
#ifndef LE_EXPORT_H
#define LE_EXPORT_H

#if defined(__GNUC__)
#define LE_API __attribute__((visibility("default")))
#else
#define LE_API
#endif

#endif /* LE_EXPORT_H */
