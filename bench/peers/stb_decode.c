/* Decodes a picture with stb_image into 8-bit RGB (RGBA when the file has alpha) and writes
 * it as PAM: a second peer for the formats stb_image reads.
 *
 *   stb_decode FILE OUT.pam */
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: stb_decode FILE OUT.pam\n");
        return 2;
    }
    int width, height, channels;
    if (!stbi_info(argv[1], &width, &height, &channels)) {
        fprintf(stderr, "%s\n", stbi_failure_reason());
        return 1;
    }
    const int depth = channels == 2 || channels == 4 ? 4 : 3;
    unsigned char* pixels = stbi_load(argv[1], &width, &height, &channels, depth);
    if (pixels == NULL) {
        fprintf(stderr, "%s\n", stbi_failure_reason());
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", width,
            height, depth, depth == 4 ? "RGB_ALPHA" : "RGB");
    fwrite(pixels, 1, (size_t)width * height * depth, out);
    stbi_image_free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
