/* Decodes a QOI picture with the format's reference decoder (qoi.h) into 8-bit RGB or RGBA,
 * as the file holds it, and writes it as PAM: the peer for QOI.
 *
 *   qoi_decode FILE OUT.pam */
#define QOI_IMPLEMENTATION
#include <qoi.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qoi_decode FILE OUT.pam\n");
        return 2;
    }
    qoi_desc desc;
    unsigned char* pixels = qoi_read(argv[1], &desc, 0);
    if (pixels == NULL) {
        fprintf(stderr, "not a QOI picture: %s\n", argv[1]);
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %u\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", desc.width,
            desc.height, desc.channels, desc.channels == 4 ? "RGB_ALPHA" : "RGB");
    fwrite(pixels, 1, (size_t)desc.width * desc.height * desc.channels, out);
    free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
