"""Stamps a PE image's link time with a hash of its content, as Microsoft's linker does with
/Brepro: the same sources give the same bytes, yet every different build gets its own stamp, by
which debuggers and crash reports tell builds apart. The stamp is the first four bytes of the
SHA-256 of the image with the stamp itself zeroed.

    python3 StampContentTimestamp.py IMAGE
"""
import hashlib
import struct
import sys


def timestamp_offset(image):
    """Where the COFF header keeps the link time: four bytes past the "PE\\0\\0" signature."""
    (header,) = struct.unpack_from("<I", image, 0x3C)
    if image[header:header + 4] != b"PE\0\0":
        sys.exit(f"{sys.argv[1]} is not a PE image")
    return header + 8


def main():
    path = sys.argv[1]
    with open(path, "rb") as file:
        image = bytearray(file.read())
    at = timestamp_offset(image)
    image[at:at + 4] = bytes(4)
    image[at:at + 4] = hashlib.sha256(image).digest()[:4]
    with open(path, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main()
