#!/usr/bin/env python3
"""Finds the payload blocks at the end of a packed launcher and makes
tampered copies of it for the system tests.

  payload_blocks.py list FILE
      one line per block, last block first:
      KIND ID data=OFFSET+SIZE signature=OFFSET+SIZE
  payload_blocks.py flip FILE OUT BLOCK PART
      OUT = FILE with the middle byte of one part of one block inverted;
      BLOCK is "manifest" or "file:ID", PART is "data" or "signature", or
      "data-end" for the last byte of the data (the end of the zlib stream's
      checksum, so that the damage shows only once the whole block has been
      decoded); prints the offset changed
  payload_blocks.py append-empty FILE OUT ID CONTENT
      OUT = FILE followed by a file block with id ID that has no data and
      the bytes of the file CONTENT where its signature would be
  payload_blocks.py append-signed FILE OUT PRIVATE.pem ID TEXT CONTENT [ID TEXT CONTENT]...
      OUT = FILE followed by a payload signed with PRIVATE.pem (through
      openssl): a manifest block with one entry per ID and TEXT (stored as
      UTF-16LE with a terminating zero), then one file block per ID with the
      bytes of the file CONTENT. Nothing in the texts is checked, so this
      makes payloads stubpack refuses to pack

The chain is walked from the end of the file the way the launcher walks it:
each block is its data, its signature and a 28-byte trailer (16-byte kind
GUID, u32 id, u32 signature size, u32 data size, little-endian); file blocks
are stepped over until the manifest block, which is the first of the chain.
Exit status 1 when the file holds no such chain or the block is missing.
"""
import struct
import subprocess
import sys
import zlib

MANIFEST_KIND = bytes.fromhex("f7bbd5ee84121946918cf0cb8ee28b55")
FILE_KIND = bytes.fromhex("d98c24a196ef6b4392bfc00bad727e63")
TRAILER = 28


def walk(image):
    """Returns the blocks from the last one back to the manifest block, as
    (kind, id, data_offset, data_size, signature_offset, signature_size)."""
    blocks = []
    pos = len(image)
    while True:
        if pos < TRAILER:
            raise ValueError("no manifest block found")
        pos -= TRAILER
        kind = image[pos:pos + 16]
        block_id, sig_size, data_size = struct.unpack_from("<III", image, pos + 16)
        if kind not in (MANIFEST_KIND, FILE_KIND):
            raise ValueError("no manifest block found (unknown trailer at %d)" % pos)
        if pos < sig_size + data_size:
            raise ValueError("block %d does not fit in front of its trailer at %d" % (block_id, pos))
        sig_pos = pos - sig_size
        data_pos = sig_pos - data_size
        name = "manifest" if kind == MANIFEST_KIND else "file"
        blocks.append((name, block_id, data_pos, data_size, sig_pos, sig_size))
        if kind == MANIFEST_KIND:
            return blocks
        pos = data_pos


def signed_block(kind, block_id, content, key):
    """The block of content: zlib data, the RSA/SHA-256 PKCS#1 v1.5 signature
    of the content (big-endian, as openssl writes it), the trailer."""
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=content,
                               stdout=subprocess.PIPE, check=True).stdout
    data = zlib.compress(content, 9)
    return data + signature + kind + struct.pack("<III", block_id, len(signature), len(data))


def signed_payload(entries, key):
    """A manifest block listing (id, text, content) entries, then their file blocks."""
    manifest = b""
    for block_id, text, _ in entries:
        encoded = (text + "\0").encode("utf-16-le")
        manifest += struct.pack("<II", block_id, len(encoded)) + encoded
    region = signed_block(MANIFEST_KIND, 0, manifest, key)
    for block_id, _, content in entries:
        region += signed_block(FILE_KIND, block_id, content, key)
    return region


def find(blocks, wanted_block):
    name, _, wanted = wanted_block.partition(":")
    for block in blocks:
        if block[0] == name and (name == "manifest" or str(block[1]) == wanted):
            return block
    raise ValueError("no block %s" % wanted_block)


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    command, args = argv[1], argv[2:]
    with open(args[0], "rb") as f:
        image = bytearray(f.read())
    try:
        if command == "append-signed" and len(args) >= 6 and (len(args) - 3) % 3 == 0:
            entries = []
            for at in range(3, len(args), 3):
                with open(args[at + 2], "rb") as f:
                    entries.append((int(args[at]), args[at + 1], f.read()))
            with open(args[1], "wb") as f:
                f.write(image + signed_payload(entries, args[2]))
            return 0
        blocks = walk(image)
        if command == "list" and len(args) == 1:
            for kind, block_id, data_pos, data_size, sig_pos, sig_size in blocks:
                print("%s %d data=%d+%d signature=%d+%d"
                      % (kind, block_id, data_pos, data_size, sig_pos, sig_size))
            return 0
        if command == "flip" and len(args) == 4:
            _, block_id, data_pos, data_size, sig_pos, sig_size = find(blocks, args[2])
            start, size = (sig_pos, sig_size) if args[3] == "signature" else (data_pos, data_size)
            if args[3] not in ("data", "data-end", "signature") or size == 0:
                raise ValueError("block %s has no %s part to change" % (args[2], args[3]))
            offset = start + size - 1 if args[3] == "data-end" else start + size // 2
            image[offset] ^= 0xFF
            with open(args[1], "wb") as f:
                f.write(image)
            print(offset)
            return 0
        if command == "append-empty" and len(args) == 4:
            with open(args[3], "rb") as f:
                content = f.read()
            trailer = FILE_KIND + struct.pack("<III", int(args[2]), len(content), 0)
            with open(args[1], "wb") as f:
                f.write(image + content + trailer)
            return 0
    except ValueError as error:
        print("payload_blocks: %s" % error, file=sys.stderr)
        return 1
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
