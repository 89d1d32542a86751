#!/usr/bin/python3
"""Writes the golden values of both text formats, once.

The values come from Python's `cryptography` package (OpenSSL underneath) and
the standard library's base64 and formatting, never from TarvolaCrypt: they
pin what the library's own code must keep producing. This script was run once
to write mode0.txt, mode1.txt and decrypt.txt; it is kept to show how they were
made. Never regenerate them to make a failing test pass: a difference means the
library's output changed, and stored values depend on it.

    /usr/bin/python3 tests/data/golden/make_golden.py tests/data/golden
"""
import base64
import random
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

rng = random.Random(20181027)


def text_bytes(length):
    """Bytes a text may hold: any value but zero."""
    return bytes(rng.randrange(1, 256) for _ in range(length))


def ecb(key16, data, decrypt=False):
    c = Cipher(algorithms.AES(key16), modes.ECB())
    op = c.decryptor() if decrypt else c.encryptor()
    return op.update(data) + op.finalize()


def cbc(key, iv, data, decrypt=False):
    c = Cipher(algorithms.AES(key), modes.CBC(iv))
    op = c.decryptor() if decrypt else c.encryptor()
    return op.update(data) + op.finalize()


def mode0_key(key_text):
    return key_text[:16].ljust(16, b"\0")


def mode0_header(length):
    # "%02X" into a 4-byte buffer keeps at most three digits; "0" up to 8.
    return ("%02X" % length)[:3].ljust(8, "0")


def mode0_encrypt(plaintext, key_text):
    padded = plaintext.ljust((len(plaintext) + 15) // 16 * 16, b"\0")
    return mode0_header(len(plaintext)) + ecb(mode0_key(key_text), padded).hex().upper()


def strtol_pair(pair):
    """The byte a two-character group stands for, read as strtol(.., 16) reads it."""
    digits = pair.lstrip(" \t\n\v\f\r")
    value = 0
    for c in digits:
        if c not in "0123456789ABCDEF":
            break
        value = value * 16 + int(c, 16)
    return value & 0xFF


def mode0_decrypt(text, key_text):
    body = text[8:]
    out = b""
    for pos in range(0, len(body), 32):
        group = body[pos:pos + 32]
        block = bytes(strtol_pair(group[j:j + 2]) for j in range(0, len(group), 2))
        out += ecb(mode0_key(key_text), block.ljust(16, b"\0"), decrypt=True)
    return out.replace(b"\0", b"")


def mode1_key(key_text):
    return key_text + b"\0" * (16 - len(key_text) % 16)


def pkcs7(data):
    n = 16 - len(data) % 16
    return data + bytes([n]) * n


ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def b64(data):
    return base64.b64encode(data).decode()


def mode1_encrypt(plaintext, key_text, iv):
    return b64(iv) + "$" + b64(cbc(mode1_key(key_text), iv, pkcs7(plaintext)))


def mode1_unpad(padded):
    """The plaintext, or None when the PKCS #7 padding is invalid."""
    n = padded[-1]
    if n < 1 or n > 16 or padded[-n:] != bytes([n]) * n:
        return None
    return padded[:-n]


def as_text(plaintext):
    """What Decrypt mode 1 writes: the plaintext up to its first zero byte."""
    return plaintext.split(b"\0")[0]


def record(out, **fields):
    for name, value in fields.items():
        out.append("%s = %s" % (name, value))
    out.append("")


def write(path, header, lines):
    with open(path, "w", newline="\n") as f:
        f.write(header + "\n\n" + "\n".join(lines))


def make_mode0():
    out = []
    keys = {n: text_bytes(n) for n in (0, 1, 15, 16, 40)}
    for length in (1, 5, 15, 16, 17, 26, 255, 256, 291, 4095, 4096, 4660):
        plaintext = text_bytes(length)
        for key_length, key_text in keys.items():
            record(out, KEY=key_text.hex(), PLAINTEXT=plaintext.hex(),
                   CIPHERTEXT=mode0_encrypt(plaintext, key_text))
    # The example of docs/FORMAT.md (named "README example").
    readme = mode0_encrypt(b"hello world", b"key")
    assert readme == "0B000000BD56B7AE1F496D44127632B841226DC1", readme
    record(out, KEY=b"key".hex(), PLAINTEXT=b"hello world".hex(), CIPHERTEXT=readme)
    return out


def make_mode1():
    out = []
    for key_length in (0, 15, 16, 31):
        key_text = text_bytes(key_length)
        for length in (0, 1, 15, 16, 17, 31, 32, 100):
            iv = bytes(rng.randrange(256) for _ in range(16))
            plaintext = text_bytes(length)
            record(out, KEY=key_text.hex(), IV=iv.hex(), PLAINTEXT=plaintext.hex(),
                   ENVELOPE=mode1_encrypt(plaintext, key_text, iv))
    # The example of docs/FORMAT.md (named "README example").
    iv = bytes.fromhex("1d417638bea6f8accc28f3eea464ec30")
    readme = mode1_encrypt(b"hello world", b"key", iv)
    assert readme == "HUF2OL6m+KzMKPPupGTsMA==$gOumSFfUn24ozN+/xV9Bgw==", readme
    record(out, KEY=b"key".hex(), IV=iv.hex(), PLAINTEXT=b"hello world".hex(), ENVELOPE=readme)
    return out


def make_decrypt():
    """Texts that are not what Encrypt writes: the accepted ones with what they
    decrypt to, and the refused ones."""
    out = []

    def case(name, mode, key_text, text, result):
        record(out, NAME=name, MODE=mode, KEY=key_text.hex(), TEXT=text.encode("latin-1").hex(),
               RESULT="refused" if result is None else result.hex())

    key = b"golden key"
    plaintext = b"a value of two blocks, 32 chars"
    good = mode0_encrypt(plaintext, key)
    body = good[8:]
    one_block = mode0_encrypt(b"sixteen chars!!!", key)

    # Mode 0, accepted.
    case("mode 0 as written", 0, key, good, plaintext)
    case("README example", 0, b"key", "0B000000BD56B7AE1F496D44127632B841226DC1", b"hello world")
    case("header value never checked", 0, key, "FFFFFFFF" + body, plaintext)
    case("white space inside the header", 0, key, "2 0\t0000" + body, plaintext)
    spaced = " " + body[1:5] + "\t" + body[6:10] + "  " + body[12:40] + "\n" + body[41:]
    case("white space inside the body, read pair by pair like strtol", 0, key,
         good[:8] + spaced, mode0_decrypt(good[:8] + spaced, key))
    case("body of an odd multiple of 16: 8 bytes and 8 zero bytes", 0, key,
         good[:8] + body[:48], mode0_decrypt(good[:8] + body[:48], key))
    zeros = b"ab\0cd" + b"\0" * 11 + b"\0\0efghijklmnopq\0"
    case("every zero byte of every block dropped", 0, key,
         "20000000" + ecb(mode0_key(key), zeros).hex().upper(), zeros.replace(b"\0", b""))
    case("wrong key: garbage, accepted", 0, b"wrong key", good, mode0_decrypt(good, b"wrong key"))
    case("key characters after the 16th ignored", 0, key.ljust(16, b"x") + b"0123456789abcdef!",
         mode0_encrypt(plaintext, key.ljust(16, b"x")), plaintext)

    # Mode 0, refused.
    case("39 characters", 0, key, one_block[:39], None)
    case("lowercase header", 0, key, "1a000000" + one_block[8:], None)
    case("header with leading space", 0, key, " 0000000" + one_block[8:], None)
    case("header with trailing tab", 0, key, "1000000\t" + one_block[8:], None)
    case("header with G", 0, key, "10G00000" + one_block[8:], None)
    case("body of 40 characters", 0, key, one_block + "00000000", None)
    case("body of 33 characters", 0, key, one_block + "0", None)
    case("body with g", 0, key, one_block[:39] + "g", None)
    case("body with lowercase", 0, key, one_block[:39] + "a", None)
    case("body with byte 0x80", 0, key, one_block[:39] + "\x80", None)
    case("everything decrypts to zero bytes", 0, key,
         "10000000" + ecb(mode0_key(key), b"\0" * 16).hex().upper(), None)

    # Mode 1.
    key = b"golden key"
    iv = bytes(range(0xA0, 0xB0))
    envelope = mode1_encrypt(plaintext, key, iv)
    iv_text, ct_text = envelope.split("$")
    ciphertext = base64.b64decode(ct_text)
    m1 = mode1_key(key)

    # Mode 1, accepted.
    case("mode 1 as written", 1, key, envelope, plaintext)
    case("README example", 1, b"key", "HUF2OL6m+KzMKPPupGTsMA==$gOumSFfUn24ozN+/xV9Bgw==",
         b"hello world")
    case("space, tab, CR and LF inside both parts", 1, key,
         iv_text[:5] + " " + iv_text[5:10] + "\t\r\n" + iv_text[10:] + "$" + ct_text[:7] + "\n"
         + ct_text[7:20] + " " + ct_text[20:], plaintext)
    case("a second $ right after = padding ends the ciphertext part", 1, key,
         envelope + "$anything at all", plaintext)
    short_ct = mode1_encrypt(b"short", key, iv)
    assert short_ct.endswith("==")
    case("pad bits of the last base64 group are not checked", 1, key,
         short_ct[:-3] + ALPHABET[ALPHABET.index(short_ct[-3]) ^ 1] + "==", b"short")
    for extra, tail in ((1, "="), (4, "=")):
        long_iv = iv + bytes(range(extra))
        text = b64(long_iv) + "$" + ct_text
        assert text.split("$")[0].endswith(tail)
        case("IV part of %d bytes ending in =: its first 16 used" % len(long_iv), 1, key, text,
             plaintext)
    with_zero = b"before\0after"
    case("plaintext up to its first zero byte", 1, key, mode1_encrypt(with_zero, key, iv),
         as_text(with_zero))
    # About one wrong key in 256 passes the padding check by chance.
    for i in range(100000):
        wrong = b"wrong key %d" % i
        opened = mode1_unpad(cbc(mode1_key(wrong), iv, ciphertext, decrypt=True))
        if opened is not None:
            case("wrong key whose padding passes by chance", 1, wrong, envelope, as_text(opened))
            break

    # Mode 1, refused.
    case("no $", 1, key, iv_text + ct_text, None)
    case("nothing after $", 1, key, iv_text + "$", None)
    case("ciphertext part not base64", 1, key, iv_text + "$" + ct_text[:-4] + "!!!=", None)
    case("ciphertext part of 15 bytes", 1, key, iv_text + "$" + b64(ciphertext[:15]), None)
    case("ciphertext part of 17 bytes", 1, key, iv_text + "$" + b64(ciphertext[:17]), None)
    case("ciphertext part incomplete group", 1, key, envelope[:-1], None)
    case("IV part of 15 bytes", 1, key, b64(iv[:15]) + "$" + ct_text, None)
    case("IV part of 18 bytes (no = before $)", 1, key, b64(iv + b"\1\2") + "$" + ct_text, None)
    case("vertical tab is not skipped", 1, key, envelope[:30] + "\v" + envelope[30:], None)
    unpadded = mode1_encrypt(b"forty-seven characters, so that it ends unpad.", key, iv)
    assert "=" not in unpadded.split("$")[1]
    case("a second $ after data characters", 1, key, unpadded + "$", None)
    case("key text of 32 characters", 1, b"k" * 32, envelope, None)
    case("key text of 40 characters", 1, b"k" * 40, envelope, None)
    bad = cbc(m1, iv, b"last byte zero..".ljust(32, b"\0"))
    case("padding byte 0", 1, key, iv_text + "$" + b64(bad), None)
    bad = cbc(m1, iv, b"x" * 15 + b"\x11")
    case("padding byte 17", 1, key, iv_text + "$" + b64(bad), None)
    bad = cbc(m1, iv, b"x" * 12 + b"\x03\x04\x04\x04")
    case("one padding byte different", 1, key, iv_text + "$" + b64(bad), None)
    for i in range(100):
        wrong = b"other key %d" % i
        if mode1_unpad(cbc(mode1_key(wrong), iv, ciphertext, decrypt=True)) is None:
            case("wrong key", 1, wrong, envelope, None)
            break
    return out


def main():
    folder = sys.argv[1]
    note = "# Written once by make_golden.py from Python's cryptography package; never regenerate."
    write(folder + "/mode0.txt", note + "\n# Encrypt mode 0. KEY and PLAINTEXT in hex; CIPHERTEXT "
          "as written.", make_mode0())
    write(folder + "/mode1.txt", note + "\n# Encrypt mode 1 with a given IV, and Decrypt mode 1. "
          "KEY, IV and PLAINTEXT in hex; ENVELOPE as written.", make_mode1())
    write(folder + "/decrypt.txt", note + "\n# Decrypt of texts Encrypt does not write. KEY and "
          "TEXT in hex; RESULT is the\n# text written (hex) or \"refused\".", make_decrypt())


if __name__ == "__main__":
    main()
