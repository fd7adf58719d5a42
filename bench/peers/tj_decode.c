/* Decodes a JPEG with TurboJPEG (tjDecompress2 into one RGB buffer) and writes it as PAM: the
 * in-memory peer beside djpeg.
 *
 *   tj_decode FILE OUT.pam */
#include <stdio.h>
#include <stdlib.h>
#include <turbojpeg.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: tj_decode FILE OUT.pam\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    if (in == NULL || fseek(in, 0, SEEK_END) != 0) return 1;
    const long size = ftell(in);
    if (size <= 0 || fseek(in, 0, SEEK_SET) != 0) return 1;
    unsigned char* bytes = malloc((size_t)size);
    if (bytes == NULL || fread(bytes, 1, (size_t)size, in) != (size_t)size) return 1;
    fclose(in);
    tjhandle tj = tjInitDecompress();
    int width, height, subsampling, colorspace;
    if (tj == NULL || tjDecompressHeader3(tj, bytes, (unsigned long)size, &width, &height,
                                          &subsampling, &colorspace)) {
        fprintf(stderr, "%s\n", tjGetErrorStr2(tj));
        return 1;
    }
    unsigned char* pixels = malloc((size_t)width * height * 3);
    if (pixels == NULL ||
        tjDecompress2(tj, bytes, (unsigned long)size, pixels, width, 0, height, TJPF_RGB, 0)) {
        fprintf(stderr, "%s\n", tjGetErrorStr2(tj));
        return 1;
    }
    tjDestroy(tj);
    free(bytes);
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", width,
            height);
    fwrite(pixels, 1, (size_t)width * height * 3, out);
    free(pixels);
    return fclose(out) == 0 ? 0 : 1;
}
