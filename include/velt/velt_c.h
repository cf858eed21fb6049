/* C interface of the Velt codec library: whole buffers in memory, integer
   error codes, no exceptions. It sits on the C++ API (velt.h) and keeps its
   rules: every option is checked before any work, and calls on different
   threads may run at once (nothing mutable is shared).

   Output buffers are allocated by the library with malloc() and handed to
   the caller, who releases them with velt_free(). The decoded size is not
   known before decoding, so this one design serves both directions and no
   capacity can be guessed wrong. On success *out is never NULL, even for 0
   bytes; on failure it is NULL and *out_size is 0. */
#ifndef VELT_VELT_C_H
#define VELT_VELT_C_H

#include <stddef.h>

#include "velt/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes; 0 is success, the others mirror velt::ErrorKind. */
enum {
  VELT_OK = 0,
  VELT_ERROR_BAD_PARAMETER = 1,  /* an option out of range, or a NULL pointer */
  VELT_ERROR_NOT_COMPRESSED = 2, /* no Velt magic at the start */
  VELT_ERROR_BAD_HEADER = 3,
  VELT_ERROR_CORRUPT = 4,
  VELT_ERROR_CRC_MISMATCH = 5,    /* decoded, but the bytes fail the stored CRC */
  VELT_ERROR_INPUT_TOO_LARGE = 6, /* 2^31 bytes or more */
  VELT_ERROR_UNREPRESENTABLE = 7,
  VELT_ERROR_IO = 8,
  VELT_ERROR_OUT_OF_MEMORY = 9,
  VELT_ERROR_INTERNAL = 10 /* any other failure; never expected */
};

/* Stage values for e8 and interleaved. */
enum { VELT_STAGE_OFF = 0, VELT_STAGE_SMART = 1, VELT_STAGE_FORCED = 2 };

/* Same fields, ranges and defaults as velt::Options. Fill one with
   velt_default_options() and change what you need. */
typedef struct velt_options {
  int order;       /* 4..9 (8 and 9: order 7 with a wider hash); default 5 */
  int memory_mb;   /* 10..50 in steps of 5; default 20 */
  int analysis;    /* 1 (default) or 0: no text transform, no e8 */
  int text_mode;   /* 0 (default) or 1 */
  int run_length;  /* 3, 4 (default) or 0 for off */
  int interleaved; /* VELT_STAGE_*; default SMART */
  int e8;          /* VELT_STAGE_*; default SMART; FORCED needs analysis */
} velt_options;

VELT_API velt_options velt_default_options(void);

/* Compresses src[0..src_size) into a new buffer *out of *out_size bytes.
   options may be NULL for the defaults. src may be NULL when src_size is 0. */
VELT_API int velt_compress(const void* src, size_t src_size, const velt_options* options,
                           unsigned char** out, size_t* out_size);

/* Restores a compressed buffer. A CRC mismatch returns
   VELT_ERROR_CRC_MISMATCH and no data. */
VELT_API int velt_decompress(const void* src, size_t src_size, unsigned char** out,
                             size_t* out_size);

/* Releases a buffer from velt_compress or velt_decompress; NULL is fine. */
VELT_API void velt_free(void* buffer);

/* A short stable name for a code, e.g. "corrupt data"; "ok" for VELT_OK,
   "unknown error" for codes not listed above. Never NULL. */
VELT_API const char* velt_error_name(int code);

/* "major.minor.patch" */
VELT_API const char* velt_version(void);

#ifdef __cplusplus
}
#endif

#endif /* VELT_VELT_C_H */
