/* Compress a buffer with libvelt's C interface, restore it, compare. */
#include <stdio.h>
#include <string.h>
#include <velt/velt_c.h>

int main(void) {
  char text[4096];
  unsigned char *packed = NULL, *restored = NULL;
  size_t packedSize = 0, restoredSize = 0, i;
  velt_options options = velt_default_options();
  int code;

  for (i = 0; i + 1 < sizeof text; ++i) text[i] = "to be or not to be, "[i % 20];
  text[sizeof text - 1] = '\n';
  options.order = 6;

  code = velt_compress(text, sizeof text, &options, &packed, &packedSize);
  if (code == VELT_OK) code = velt_decompress(packed, packedSize, &restored, &restoredSize);
  if (code != VELT_OK) {
    fprintf(stderr, "velt %s: %s\n", velt_version(), velt_error_name(code));
    return 1;
  }
  code = restoredSize == sizeof text && memcmp(restored, text, sizeof text) == 0;
  printf("velt %s: %zu -> %zu bytes, restored %s\n", velt_version(), sizeof text, packedSize,
         code ? "identical" : "DIFFERENT");
  velt_free(packed);
  velt_free(restored);
  return code ? 0 : 1;
}
