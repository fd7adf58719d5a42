/* Decodes a PNG with libpng's row API (png_read_row into one buffer, expanded to 8-bit RGB or
 * RGBA) and writes it as PAM: a second libpng peer beside the simplified API.
 *
 *   png_rows FILE OUT.pam */
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: png_rows FILE OUT.pam\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    if (in == NULL) return 1;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png_create_info_struct(png);
    png_bytep pixels = NULL;
    if (png == NULL || info == NULL || setjmp(png_jmpbuf(png))) {
        fprintf(stderr, "cannot decode %s\n", argv[1]);
        return 1;
    }
    png_init_io(png, in);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_channels(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    pixels = malloc(stride * height);
    if (pixels == NULL) return 1;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, pixels + stride * y, NULL);
    png_read_end(png, NULL);
    png_destroy_read_struct(&png, &info, NULL);
    fclose(in);
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", width,
            height, depth, depth == 4 ? "RGB_ALPHA" : "RGB");
    fwrite(pixels, 1, stride * height, out);
    free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
