/* A host built only against an installed le: opens a bundle, renders the first step of its idle
 * loop and checks that the headers and the loaded library carry the same version.
 * usage: host BUNDLE; exit 0 when all of that worked. */
#include <stdio.h>
#include <stdlib.h>

#include <le/le.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (le_version() != LE_VERSION_INT) {
    fprintf(stderr, "headers say %s, the library %u\n", LE_VERSION_STRING, le_version());
    return 1;
  }
  le_ctx* ctx = le_create(argv[1], "b1", 0, NULL);
  if (!ctx) {
    fprintf(stderr, "%s\n", le_last_error());
    return 1;
  }
  size_t len = (size_t)le_width(ctx) * (size_t)le_height(ctx) * 4;
  unsigned char* rgba = malloc(len);
  int ok = rgba && le_render_drive_rgba(ctx, 0, rgba, len) == 1;
  if (!ok) fprintf(stderr, "%s\n", le_last_error());
  else printf("le %s: rendered a %dx%d frame\n", LE_VERSION_STRING, le_width(ctx), le_height(ctx));
  free(rgba);
  le_destroy(ctx);
  return ok ? 0 : 1;
}
