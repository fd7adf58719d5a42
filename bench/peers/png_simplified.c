/* Decodes a PNG with libpng's simplified API into 8-bit RGB (RGBA when the file has alpha)
 * and writes it as PAM: the peer that velkaro-decode's PNG loading is timed against.
 *
 *   png_simplified FILE OUT.pam */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: png_simplified FILE OUT.pam\n");
        return 2;
    }
    png_image image = {0};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, argv[1])) {
        fprintf(stderr, "%s\n", image.message);
        return 1;
    }
    const int alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const size_t stride = PNG_IMAGE_ROW_STRIDE(image);
    png_bytep pixels = malloc(PNG_IMAGE_BUFFER_SIZE(image, stride));
    if (pixels == NULL || !png_image_finish_read(&image, NULL, pixels, (png_int_32)stride, NULL)) {
        fprintf(stderr, "%s\n", image.message);
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n",
            image.width, image.height, alpha ? 4 : 3, alpha ? "RGB_ALPHA" : "RGB");
    fwrite(pixels, 1, stride * image.height, out);
    free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
