"""TarvolaCrypt: encrypt and decrypt stored text values.

Calls the TarvolaCrypt library (libtarvolacrypt.so, TarvolaCrypt.dll) through
ctypes, sizing its buffers and checking its results, so that a caller cannot
overrun a buffer or take a wrong key's garbage for a plaintext:

    >>> import tarvolacrypt
    >>> sealed = tarvolacrypt.encrypt("Server=db;Password=pw", key)      # mode 1
    >>> tarvolacrypt.decrypt(sealed, key)
    'Server=db;Password=pw'
    >>> tarvolacrypt.decrypt(stored, key, mode="auto")    # a value of either mode

Modes (the `mode` argument, default ENVELOPE):
    HEX_BLOCK (0)  AES-128 block by block, hex text. Deterministic; no IV and
                   no integrity check; refuses the empty text.
    ENVELOPE (1)   AES-CBC with a random IV, base64 text. Key texts of 32 or
                   more bytes are refused.

Texts and keys: `str` travels as UTF-8, `bytes` and `bytearray` as they are.
Neither may hold a zero byte (the library would stop reading there). A `str`
plaintext must be text as `decrypt` returns it: no control character other
than TAB, CR and LF; encrypt `bytes` to store anything else.

Decryption recognises a wrong key or a damaged value the way the
`tarvolacrypt` tool does, and raises `Error`:
  * the library refuses the value (mode 1: the padding check);
  * a mode-1 plaintext cut short at a zero byte;
  * `decrypt` only: a plaintext that is not valid UTF-8, or holds a control
    character other than TAB, CR and LF (`decrypt_bytes` returns the bytes:
    values that applications once stored in a single-byte code page, e.g.
    `decrypt_bytes(value, key).decode("cp1252")`);
  * a mode-0 value whose header and block count do not fit the length it
    decrypts to.
Blanks, TABs and line ends around a value are ignored, as fixed-width
columns and exports add them.

Errors: `Error` (a ValueError) for every refusal and failure; its message
names the reason and never holds the key, the plaintext or the value.
TypeError for arguments that are neither str nor bytes; OSError when the
library cannot be loaded.

The library: the path in the environment variable TARVOLACRYPT_LIBRARY when
set, else libtarvolacrypt.so.2018 through the system's search (Linux), or
TarvolaCrypt.dll on the PATH (Windows; the DLL of the interpreter's bitness).

Every buffer this module fills with a key or a plaintext is wiped after the
call. Python's own str and bytes objects cannot be wiped: the plaintexts
returned, the bytes they are decoded from and the UTF-8 copies of str
arguments stay in memory until the interpreter reuses it; pass bytearray keys
and plaintexts to be able to wipe your own copies. Any number of threads may
call at once; the calls release the GIL.
"""

import ctypes
import enum
import os
import sys
import threading

__all__ = ["Mode", "HEX_BLOCK", "ENVELOPE", "Error", "encrypt", "decrypt", "decrypt_bytes"]


class Mode(enum.IntEnum):
    """The two text formats: the library's `mode` argument."""

    HEX_BLOCK = 0
    ENVELOPE = 1


HEX_BLOCK = Mode.HEX_BLOCK
ENVELOPE = Mode.ENVELOPE


class Error(ValueError):
    """A value, key or mode refused, or a value that does not decrypt."""


# The library's soname: the year of the release line, which keeps its two
# functions and both text formats unchanged.
_SONAME = "libtarvolacrypt.so.2018"
_WINDOWS_DLL = "TarvolaCrypt.dll"

_MODE1_KEY_LIMIT = 32
_MAX_TEXT_LENGTH = 2**31 - 1
_HEADER_LENGTH = 8
_BLOCK = 16

_WHITE_SPACE = b" \t\r\n"
_BLANKS = (b" ", b"\t", b"\r", b"\n")
_NOT_TEXT = "does not decrypt to text: wrong key or damaged value"
_CUT_AT_ZERO = "decrypts to bytes holding a zero byte: wrong key or damaged value"

# C0 controls but TAB, LF and CR, and DEL: never part of a stored text value.
_CONTROLS = bytes(sorted(set(range(0x20)) - {0x09, 0x0A, 0x0D} | {0x7F}))
_UPPER_HEX = b"0123456789ABCDEF"

# Encrypt and Decrypt, loaded on first use (so that `help` and a fix of
# TARVOLACRYPT_LIBRARY after the import work). They are called without
# ctypes' argument conversion, which costs more than a short call itself:
# every argument is checked here and is bytes, a ctypes char array or an int.
_entry_points = None
_load_lock = threading.Lock()


def _library_name():
    path = os.environ.get("TARVOLACRYPT_LIBRARY")
    if path:
        return path
    if sys.platform == "win32":
        # ctypes no longer searches PATH for a bare DLL name; find_library does.
        from ctypes.util import find_library

        return find_library(_WINDOWS_DLL) or _WINDOWS_DLL
    return _SONAME


def _load():
    global _entry_points
    with _load_lock:
        if _entry_points is None:
            name = _library_name()
            try:
                library = ctypes.CDLL(name)
            except OSError as error:
                bits = 8 * ctypes.sizeof(ctypes.c_void_p)
                dll = f" (the {bits}-bit TarvolaCrypt.dll)" if sys.platform == "win32" else ""
                raise OSError(
                    f"cannot load the TarvolaCrypt library {name!r} into this {bits}-bit "
                    f"Python: {error}; install it, or set TARVOLACRYPT_LIBRARY to its path{dll}"
                ) from None
            _entry_points = (library.Encrypt, library.Decrypt)
    return _entry_points


def _mode(mode):
    if mode.__class__ is not bool and mode in (0, 1):
        return 1 if mode else 0
    raise Error('unknown mode (only 0 and 1 exist; decrypt also takes "auto")')


def _as_bytes(value, what):
    """str as UTF-8, bytes and bytearray as they are; no zero byte."""
    if value.__class__ is str:
        try:
            value = value.encode()
        except UnicodeEncodeError:
            value = None
        if value is None:  # raised outside the handler, whose exception holds the text
            raise Error(f"the {what} is not valid Unicode (it holds a lone surrogate)")
    elif not isinstance(value, (bytes, bytearray)):
        raise TypeError(f"the {what} must be str, bytes or bytearray, not {type(value).__name__}")
    if b"\0" in value:
        raise Error(f"the {what} contains a zero byte")
    return value


def _arguments(text, key, mode, what):
    """The text (already bytes) and the key as bytes the C call can take,
    after the refusals that need no call."""
    key = _as_bytes(key, "key text")
    if len(text) > _MAX_TEXT_LENGTH:
        raise Error(f"the {what} is too long")
    if mode == 1 and len(key) >= _MODE1_KEY_LIMIT:
        raise Error("key text of 32 or more characters cannot be used in mode 1")
    return text, key


# Output sizes in bytes, terminator included: the header's
# TARVOLA_ENCRYPT_SIZE_MODE0/1 and TARVOLA_DECRYPT_SIZE_MODE0/1, where `n` is
# the input's length, or for mode-1 decryption the bytes after the first "$".
def _encrypt_size(n, mode):
    if mode == 0:
        return 9 + (n + 15) // 16 * 32
    return 26 + (n // 16 + 1) * 20 + (n // 16 + 3) // 3 * 4


def _decrypt_size(n, mode):
    if mode == 0:
        return (n - 8 + 31) // 32 * 16 + 1 if n > 8 else 1
    return n // 4 * 3 + n % 4 * 3 // 4 + 1


def _has_control(text):
    # translate runs at memory speed, where a regular expression is ten
    # times slower on long texts.
    return len(text.translate(None, _CONTROLS)) != len(text)


def _wipe(buffer):
    buffer.raw = bytes(len(buffer))


def _terminated_copy(value):
    copy = (ctypes.c_char * (len(value) + 1))()
    if value:
        ctypes.memmove(copy, (ctypes.c_char * len(value)).from_buffer(value), len(value))
    return copy


def _call(function, text, key, output, mode):
    """Calls Encrypt or Decrypt. bytes are passed as they are (CPython keeps
    a zero after their last byte); a bytearray, which has no terminator, is
    passed as a copy wiped after the call."""
    if text.__class__ is bytes is key.__class__:
        return function(text, key, output, mode)
    copies = [_terminated_copy(v) if v.__class__ is bytearray else v for v in (text, key)]
    try:
        return function(copies[0], copies[1], output, mode)
    finally:
        for copy in copies:
            if copy.__class__ is not bytes:
                _wipe(copy)


def encrypt(plaintext, key, mode=ENVELOPE):
    """Encrypts `plaintext` under the key text `key`; returns the value as str.

    Mode 0 gives the same value for the same plaintext and key; mode 1 draws
    a new IV each time. Raises Error for a refused plaintext, key or mode.
    """
    mode = _mode(mode)
    text, key = _arguments(_as_bytes(plaintext, "text"), key, mode, "text")
    length = len(text)
    if plaintext.__class__ is str and _has_control(text):
        raise Error(
            "the text holds a control character other than TAB, CR and LF, "
            "which decrypt() would refuse: encrypt it as bytes"
        )
    if mode == 0 and not length:
        raise Error("mode 0 cannot encrypt an empty text")
    # Ciphertext only: nothing to wipe. Zero-filled, as mode 0 appends.
    output = (ctypes.c_char * _encrypt_size(length, mode))()
    if _call((_entry_points or _load())[0], text, key, output, mode) != 0:
        raise Error("the library failed (random source or cryptography provider)")
    return output.value.decode()


def decrypt(ciphertext, key, mode=ENVELOPE):
    """Decrypts a value of mode 0, mode 1 or either (`mode="auto"`) to str.

    Raises Error when the value does not decrypt to text under `key`: a wrong
    key, a damaged value, or a plaintext that is not UTF-8 text (see
    decrypt_bytes for those).
    """
    return _open(ciphertext, key, mode, True)


def decrypt_bytes(ciphertext, key, mode=ENVELOPE):
    """Decrypts like `decrypt`, but returns the plaintext's bytes as they are.

    For plaintexts stored in a single-byte code page or holding control
    characters. A wrong key is still recognised in mode 1 by the padding
    check and a cut plaintext, in mode 0 only by the length the value
    decrypts to (far less often than by `decrypt`).
    """
    return _open(ciphertext, key, mode, False)


def _recognize_mode(value):
    """The mode `value` is written in, as the tool's --mode auto reads it."""
    if b"$" in value:
        return 1
    if len(value) >= _HEADER_LENGTH + 32 and not value.translate(None, _UPPER_HEX):
        return 0
    raise Error("neither a mode-0 nor a mode-1 value")


def _cut_at_zero(value, separator, length):
    """Whether a mode-1 plaintext of `length` bytes is shorter than the
    ciphertext of `value`, which the library accepted, allows: the library
    stops at a zero byte."""
    start = separator + 1
    if length + _BLOCK >= (len(value) - start) // 4 * 3:  # the most it can be
        return False
    # Counted as the library reads: a "$" after the padding ends the text,
    # blanks are skipped. (find runs at memchr's speed, count far slower.)
    end = value.find(b"$", start)
    end = len(value) if end < 0 else end
    if all(value.find(blank, start, end) < 0 for blank in _BLANKS):
        padding = (value[end - 1 : end] == b"=") + (value[end - 2 : end] == b"==")
        ciphertext = (end - start) // 4 * 3 - padding
    else:
        part = value[start:end].translate(None, _WHITE_SPACE)
        ciphertext = len(part) // 4 * 3 - (len(part) - len(part.rstrip(b"=")))
    return length < ciphertext - _BLOCK


def _hex_block_header(length):
    digits = f"{length:02X}"[:3]
    return (digits + "0" * (_HEADER_LENGTH - len(digits))).encode("ascii")


def _open(ciphertext, key, mode, as_text):
    value = bytes(_as_bytes(ciphertext, "value")).strip(_WHITE_SPACE)
    if not value:
        raise Error("empty value")
    mode = _recognize_mode(value) if mode == "auto" else _mode(mode)
    value, key = _arguments(value, key, mode, "value")
    separator = value.find(b"$")
    if mode == 1 and separator < 0:
        raise Error('not a mode-1 value (no "$")')
    size = _decrypt_size(len(value) if mode == 0 else len(value) - separator - 1, mode)
    # Zero-filled, as mode 0 writes no terminator.
    output = (ctypes.c_char * size)()
    try:
        if _call((_entry_points or _load())[1], value, key, output, mode) != 0:
            raise Error(
                "not a mode-0 value"
                if mode == 0
                else "mode-1 value rejected: wrong key or damaged value"
            )
        plaintext = output.value
    finally:
        _wipe(output)
    length = len(plaintext)
    if mode == 1 and _cut_at_zero(value, separator, length):
        raise Error(_CUT_AT_ZERO)
    if as_text and _has_control(plaintext):
        raise Error(_NOT_TEXT)
    if mode == 0:
        blocks = (length + _BLOCK - 1) // _BLOCK
        if value[:_HEADER_LENGTH] != _hex_block_header(length) or len(value) != 8 + 32 * blocks:
            raise Error(
                "damaged or truncated mode-0 value (its header and length do not fit the "
                f"{length} characters it decrypts to)"
            )
    if not as_text:
        return plaintext
    try:
        return plaintext.decode("utf-8")
    except UnicodeDecodeError:
        pass
    raise Error(_NOT_TEXT)  # outside the handler, whose exception holds the bytes
