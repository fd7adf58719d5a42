#pragma once
// Decodes a file with Pillow (Debian's python3-pil under /usr/bin/python3) as an independent
// reader: the picture comes back as a PAM of RGBA samples. For Pillow's grey-with-alpha mode
// the grey level is returned with alpha 255 (the reader shows such pictures without alpha).
#include <string>

#include "common/ImagingTestHelpers.h"

namespace testhelp {

inline bool HavePillow() {
    return std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
}

// ok is false when Pillow is missing or refuses the file.
inline TPnm PillowRGBA(const std::string& file, bool& ok) {
    const std::string script =
        "import sys\n"
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1])\n"
        "im.load()\n"
        "im = im.convert('L').convert('RGBA') if im.mode == 'LA' else im.convert('RGBA')\n"
        "out = sys.stdout.buffer\n"
        "out.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n' % im.size)\n"
        "out.write(im.tobytes())\n";
    const TPnm pnm = ParsePnm(RunCommand(
        "/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(file) + " 2>/dev/null", ok));
    ok = ok && pnm.valid;
    return pnm;
}

}  // namespace testhelp
