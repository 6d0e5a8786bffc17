"""Stamps a PE image's link time with a hash of its content, as Microsoft's linker does with
/Brepro: the same sources give the same bytes, yet every different build gets its own stamp, by
which debuggers and crash reports tell builds apart. The stamp is the first four bytes of the
SHA-256 of the image with the stamp and the header checksum zeroed. The checksum, which the
linker computed before the stamp changed the image, is computed again afterwards.

    python3 StampContentTimestamp.py IMAGE
"""
import hashlib
import struct
import sys


def header_offsets(image):
    """Where the COFF header keeps the link time (four bytes past the "PE\\0\\0" signature) and the
    optional header its checksum (64 bytes into it, in PE32 and PE32+ alike)."""
    (header,) = struct.unpack_from("<I", image, 0x3C)
    if image[header:header + 4] != b"PE\0\0":
        sys.exit(f"{sys.argv[1]} is not a PE image")
    return header + 8, header + 24 + 64


def image_checksum(image):
    """The checksum Windows keeps in the optional header (imagehlp's CheckSumMappedFile): the
    file's little-endian 16-bit words summed with every carry folded back in, plus the file's
    length. The checksum field itself must be zero."""
    padded = bytes(image) + bytes(len(image) % 2)
    total = sum(struct.unpack(f"<{len(padded) // 2}H", padded))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def main():
    path = sys.argv[1]
    with open(path, "rb") as file:
        image = bytearray(file.read())
    stamp_at, checksum_at = header_offsets(image)
    image[stamp_at:stamp_at + 4] = bytes(4)
    image[checksum_at:checksum_at + 4] = bytes(4)
    image[stamp_at:stamp_at + 4] = hashlib.sha256(image).digest()[:4]
    image[checksum_at:checksum_at + 4] = struct.pack("<I", image_checksum(image))
    with open(path, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main()
