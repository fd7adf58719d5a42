"""Pictures for the thumbnailer's tests, and the GNOME desktop's own thumbnail client.

  desktop_thumbnail.py pcx FILE WIDTH HEIGHT   writes a 24-bit PCX (red left half, blue right)
  desktop_thumbnail.py wmf FILE                writes a 200x100 metafile: a red rectangle
  desktop_thumbnail.py size PNG                prints a PNG's width and height
  desktop_thumbnail.py gnome URI MIME          prints the size of the large thumbnail that
                                               gnome-desktop's factory makes (exit 77 without it)
"""
import struct
import sys


def pcx(path, width, height):
    header = struct.pack("<BBBBHHHHHH48sBBHH58s", 10, 5, 1, 8, 0, 0, width - 1, height - 1,
                         72, 72, bytes(48), 0, 3, width, 1, bytes(58))
    body = bytearray()
    for _ in range(height):
        for plane in (0xFF, 0x00, 0x00), (0x00, 0x00, 0x00), (0x00, 0x00, 0xFF):
            for value, count in (plane[0], width // 2), (plane[2], width - width // 2):
                while count:
                    run = min(63, count)
                    body += bytes((0xC0 | run, value))
                    count -= run
    open(path, "wb").write(header + body)


def wmf(path):
    def record(function, *words):
        return struct.pack("<IH%dh" % len(words), 3 + len(words), function, *words)

    brush = struct.pack("<IHHIH", 7, 0x02FC, 0, 0x0000FF, 0)
    records = (record(0x020B, 0, 0) + record(0x020C, 100, 200) + brush + record(0x012D, 0) +
               record(0x041B, 100, 200, 0, 0) + record(0x0000))
    words = 9 + len(records) // 2
    standard = struct.pack("<HHHIHIH", 1, 9, 0x300, words, 1, 7, 0)
    placeable = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 200, 100, 96, 0)
    checksum = 0
    for (word,) in struct.iter_unpack("<H", placeable):
        checksum ^= word
    open(path, "wb").write(placeable + struct.pack("<H", checksum) + standard + records)


def png_size(path):
    data = open(path, "rb").read(24)
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG")
    print(*struct.unpack(">II", data[16:24]))


def gnome(uri, mime):
    try:
        import gi
        gi.require_version("GnomeDesktop", "3.0")
        from gi.repository import GnomeDesktop
    except (ImportError, ValueError):
        sys.exit(77)
    factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.LARGE)
    if not factory.can_thumbnail(uri, mime, 0):
        sys.exit("no thumbnailer for " + mime)
    pixbuf = factory.generate_thumbnail(uri, mime, None)
    print(pixbuf.get_width(), pixbuf.get_height())


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "pcx":
        pcx(args[0], int(args[1]), int(args[2]))
    elif command == "wmf":
        wmf(args[0])
    elif command == "size":
        png_size(args[0])
    else:
        gnome(*args)
