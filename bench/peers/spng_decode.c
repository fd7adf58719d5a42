/* Decodes a PNG with libspng into 8-bit RGB (RGBA when the file has alpha) and writes it as
 * PAM: a third PNG peer.
 *
 *   spng_decode FILE OUT.pam */
#include <spng.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: spng_decode FILE OUT.pam\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    if (in == NULL) return 1;
    spng_ctx* ctx = spng_ctx_new(0);
    struct spng_ihdr ihdr;
    if (ctx == NULL || spng_set_png_file(ctx, in) || spng_get_ihdr(ctx, &ihdr)) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    struct spng_trns trns;
    const int alpha = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                      ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                      spng_get_trns(ctx, &trns) == 0;
    const int format = alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    size_t size = 0;
    if (spng_decoded_image_size(ctx, format, &size)) return 1;
    unsigned char* pixels = malloc(size);
    if (pixels == NULL || spng_decode_image(ctx, pixels, size, format, SPNG_DECODE_TRNS)) {
        fprintf(stderr, "cannot decode %s\n", argv[1]);
        return 1;
    }
    spng_ctx_free(ctx);
    fclose(in);
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", ihdr.width,
            ihdr.height, alpha ? 4 : 3, alpha ? "RGB_ALPHA" : "RGB");
    fwrite(pixels, 1, size, out);
    free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
