/* Marks the declarations a shared libvelt exports. The library is built with
   hidden visibility, so only what carries VELT_API is part of its ABI. */
#ifndef VELT_EXPORT_H
#define VELT_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VELT_API __attribute__((visibility("default")))
#else
#define VELT_API
#endif

#endif /* VELT_EXPORT_H */
