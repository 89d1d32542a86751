// TarvolaCrypt for .NET: encrypt and decrypt stored text values through the
// TarvolaCrypt library (TarvolaCrypt.dll on Windows, libtarvolacrypt.so on
// Linux), with the buffers sized and checked here so that a caller cannot
// overrun one or take a wrong key's garbage for a plaintext.
//
//   string sealed = TarvolaCrypt.Encrypt("Server=db;Password=pw", key, Mode.Envelope);
//   string opened = TarvolaCrypt.Decrypt(sealed, key, Mode.Envelope);
//   string any = TarvolaCrypt.Decrypt(stored, key, TarvolaCrypt.RecognizeMode(stored));
//
// Strings travel as UTF-8 (never the ANSI code page); byte[] overloads take
// bytes as they are, for values stored in a single-byte code page. One file,
// C# 5, so that it compiles into any project, in Mono's mcs and in Windows
// PowerShell's Add-Type alike. Loading the library: docs/BINDINGS.md.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Tarvola
{
    /// <summary>The two text formats: the library's mode argument.</summary>
    public enum Mode
    {
        /// <summary>AES-128 block by block, hex text: deterministic, no integrity check.</summary>
        HexBlock = 0,
        /// <summary>AES-CBC with a random IV, base64 text; key texts of 32+ bytes refused.</summary>
        Envelope = 1
    }

    /// <summary>A value, key or mode refused, a value that does not decrypt, or a
    /// library that cannot be loaded. The message never holds the key, the
    /// plaintext or the value.</summary>
    public sealed class TarvolaCryptException : Exception
    {
        public TarvolaCryptException(string message) : base(message) { }
        public TarvolaCryptException(string message, Exception inner) : base(message, inner) { }
    }

    /// <summary>Encrypt and Decrypt of the TarvolaCrypt library. Stateless: any
    /// number of threads may call at once.</summary>
    public static class TarvolaCrypt
    {
        const int Mode1KeyLimit = 32;
        const int HeaderLength = 8;
        const int BlockSize = 16;
        const string NotTextReason = "does not decrypt to text: wrong key or damaged value";
        const string CutAtZeroReason = "decrypts to bytes holding a zero byte: wrong key or damaged value";
        static readonly char[] WhiteSpace = { ' ', '\t', '\r', '\n' };
        static readonly UTF8Encoding StrictUtf8 = new UTF8Encoding(false, true);

        static TarvolaCrypt()
        {
            NativeLoader.PreloadForProcessBitness();
        }

        /// <summary>Encrypts a text, sent to the library as UTF-8. It must be text as
        /// Decrypt returns it: no control character other than TAB, CR and LF.</summary>
        public static string Encrypt(string plaintext, string key, Mode mode)
        {
            byte[] text = CText(plaintext, "plaintext", "text");
            byte[] keyText = null;
            try
            {
                keyText = CText(key, "key", "key text");
                if (HasControl(text, text.Length - 1))
                    throw new TarvolaCryptException("the text holds a control character other than TAB, CR and LF, which Decrypt would refuse: encrypt it as bytes");
                return Seal(text, keyText, mode);
            }
            finally
            {
                Wipe(text);
                Wipe(keyText);
            }
        }

        /// <summary>Encrypts bytes as they are, e.g. a text in a single-byte code page.</summary>
        public static string Encrypt(byte[] plaintext, byte[] key, Mode mode)
        {
            byte[] text = CText(plaintext, "plaintext", "text");
            byte[] keyText = null;
            try
            {
                keyText = CText(key, "key", "key text");
                return Seal(text, keyText, mode);
            }
            finally
            {
                Wipe(text);
                Wipe(keyText);
            }
        }

        /// <summary>Decrypts a value to its text. Throws TarvolaCryptException when the
        /// value does not decrypt to UTF-8 text under the key: a wrong key, a
        /// damaged value, or a plaintext that is not text (see DecryptBytes).</summary>
        public static string Decrypt(string ciphertext, string key, Mode mode)
        {
            byte[] keyText = CText(key, "key", "key text");
            byte[] output = null;
            try
            {
                int length = Open(ciphertext, keyText, mode, true, out output);
                try
                {
                    return StrictUtf8.GetString(output, 0, length);
                }
                catch (DecoderFallbackException)
                {
                    // A new exception without the original, whose message quotes the bytes.
                    throw new TarvolaCryptException(NotTextReason);
                }
            }
            finally
            {
                Wipe(output);
                Wipe(keyText);
            }
        }

        /// <summary>Decrypts a value to the plaintext's bytes as they are: for values
        /// stored in a single-byte code page or holding control characters. A
        /// wrong key is recognised less often than by Decrypt in mode 0.</summary>
        public static byte[] DecryptBytes(string ciphertext, byte[] key, Mode mode)
        {
            byte[] keyText = CText(key, "key", "key text");
            byte[] output = null;
            try
            {
                int length = Open(ciphertext, keyText, mode, false, out output);
                byte[] plaintext = new byte[length];
                Buffer.BlockCopy(output, 0, plaintext, 0, length);
                return plaintext;
            }
            finally
            {
                Wipe(output);
                Wipe(keyText);
            }
        }

        /// <summary>The mode a stored value is written in, as the tarvolacrypt tool's
        /// --mode auto reads it: a "$" makes mode 1, an 8-digit header and a hex
        /// body mode 0.</summary>
        public static Mode RecognizeMode(string value)
        {
            if (value == null) throw new ArgumentNullException("value");
            string trimmed = value.Trim(WhiteSpace);
            if (trimmed.IndexOf('$') >= 0) return Mode.Envelope;
            if (trimmed.Length >= HeaderLength + 32 && IsUpperHex(trimmed)) return Mode.HexBlock;
            throw new TarvolaCryptException("neither a mode-0 nor a mode-1 value");
        }

        static string Seal(byte[] text, byte[] keyText, Mode mode)
        {
            CheckMode(mode);
            long length = text.Length - 1;
            CheckKey(keyText, mode);
            if (mode == Mode.HexBlock && length == 0)
                throw new TarvolaCryptException("mode 0 cannot encrypt an empty text");
            // Zero-filled, as mode 0 appends to the text already there.
            byte[] output = new byte[CheckedSize(EncryptSize(length, mode), "text")];
            int status = NativeLoader.Call(true, text, keyText, output, mode);
            if (status != 0)
                throw new TarvolaCryptException("the library failed (random source or cryptography provider)");
            // The sizes are exact for encryption: the value fills all but the terminator.
            // (UTF-8 decodes the ASCII value; Mono's ASCII decoder is five times slower.)
            return Encoding.UTF8.GetString(output, 0, output.Length - 1);
        }

        // Decrypts into `output` (zero-filled, sized by the header's rules) and
        // returns the plaintext's length after the checks the tool makes.
        static int Open(string ciphertext, byte[] keyText, Mode mode, bool asText, out byte[] output)
        {
            output = null;
            if (ciphertext == null) throw new ArgumentNullException("ciphertext");
            CheckMode(mode);
            string value = ciphertext.Trim(WhiteSpace);
            if (value.Length == 0) throw new TarvolaCryptException("empty value");
            if (value.IndexOf('\0') >= 0) throw new TarvolaCryptException("the value contains a zero byte");
            CheckKey(keyText, mode);
            // A value is ASCII; anything else is refused by the library.
            byte[] text = new byte[Encoding.UTF8.GetByteCount(value) + 1];
            Encoding.UTF8.GetBytes(value, 0, value.Length, text, 0);
            int separator = Array.IndexOf(text, (byte)'$');
            if (mode == Mode.Envelope && separator < 0)
                throw new TarvolaCryptException("not a mode-1 value (no \"$\")");
            long n = mode == Mode.HexBlock ? text.Length - 1 : text.Length - 1 - (separator + 1);
            output = new byte[CheckedSize(DecryptSize(n, mode), "value")];
            if (NativeLoader.Call(false, text, keyText, output, mode) != 0)
            {
                throw new TarvolaCryptException(mode == Mode.HexBlock
                    ? "not a mode-0 value"
                    : "mode-1 value rejected: wrong key or damaged value");
            }
            int length = Array.IndexOf(output, (byte)0);
            if (mode == Mode.Envelope && CutAtZero(text, separator, length))
                throw new TarvolaCryptException(CutAtZeroReason);
            if (asText && HasControl(output, length)) throw new TarvolaCryptException(NotTextReason);
            if (mode == Mode.HexBlock)
            {
                int blocks = (length + BlockSize - 1) / BlockSize;
                if (value.Substring(0, HeaderLength) != HexBlockHeader(length) ||
                    value.Length != HeaderLength + 32 * blocks)
                {
                    throw new TarvolaCryptException(
                        "damaged or truncated mode-0 value (its header and length do not fit the " +
                        length + " characters it decrypts to)");
                }
            }
            return length;
        }

        // Output sizes in bytes, terminator included: the header's
        // TARVOLA_ENCRYPT_SIZE_MODE0/1 and TARVOLA_DECRYPT_SIZE_MODE0/1, where n
        // is the input's length, or for mode-1 decryption the bytes after the "$".
        internal static long EncryptSize(long n, Mode mode)
        {
            if (mode == Mode.HexBlock) return 9 + (n + 15) / 16 * 32;
            return 26 + (n / 16 + 1) * 20 + (n / 16 + 3) / 3 * 4;
        }

        internal static long DecryptSize(long n, Mode mode)
        {
            if (mode == Mode.HexBlock) return n <= 8 ? 1 : (n - 8 + 31) / 32 * 16 + 1;
            return n / 4 * 3 + n % 4 * 3 / 4 + 1;
        }

        // The text as the C interface takes it: its bytes and a terminating zero.
        static byte[] CText(string text, string parameter, string what)
        {
            if (text == null) throw new ArgumentNullException(parameter);
            if (text.IndexOf('\0') >= 0) throw new TarvolaCryptException("the " + what + " contains a zero byte");
            try
            {
                byte[] bytes = new byte[StrictUtf8.GetByteCount(text) + 1];
                StrictUtf8.GetBytes(text, 0, text.Length, bytes, 0);
                return bytes;
            }
            catch (EncoderFallbackException)
            {
                // A new exception without the original, whose message quotes the text.
                throw new TarvolaCryptException("the " + what + " is not valid Unicode (it holds a lone surrogate)");
            }
        }

        static byte[] CText(byte[] bytes, string parameter, string what)
        {
            if (bytes == null) throw new ArgumentNullException(parameter);
            if (Array.IndexOf(bytes, (byte)0) >= 0) throw new TarvolaCryptException("the " + what + " contains a zero byte");
            return Terminated(bytes);
        }

        static byte[] Terminated(byte[] bytes)
        {
            byte[] terminated = new byte[bytes.Length + 1];
            Buffer.BlockCopy(bytes, 0, terminated, 0, bytes.Length);
            return terminated;
        }

        static void CheckMode(Mode mode)
        {
            if (mode != Mode.HexBlock && mode != Mode.Envelope)
                throw new TarvolaCryptException("unknown mode (only 0 and 1 exist)");
        }

        static void CheckKey(byte[] keyText, Mode mode)
        {
            if (mode == Mode.Envelope && keyText.Length - 1 >= Mode1KeyLimit)
                throw new TarvolaCryptException("key text of 32 or more characters cannot be used in mode 1");
        }

        static int CheckedSize(long size, string what)
        {
            if (size > int.MaxValue - 64) throw new TarvolaCryptException("the " + what + " is too long");
            return (int)size;
        }

        // C0 controls other than TAB, LF and CR, and DEL: never part of a stored text value.
        static bool HasControl(byte[] bytes, int length)
        {
            for (int i = 0; i < length; ++i)
            {
                byte b = bytes[i];
                if ((b < 0x20 && b != (byte)'\t' && b != (byte)'\n' && b != (byte)'\r') || b == 0x7f) return true;
            }
            return false;
        }

        static bool IsUpperHex(string text)
        {
            foreach (char c in text)
            {
                if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
            }
            return true;
        }

        // The plaintext length as a mode-0 header writes it: "%02X", its first
        // three digits, filled with "0" to 8 characters.
        static string HexBlockHeader(int length)
        {
            string digits = length.ToString("X2");
            if (digits.Length > 3) digits = digits.Substring(0, 3);
            return digits.PadRight(HeaderLength, '0');
        }

        // Whether a mode-1 plaintext of `length` bytes is shorter than the
        // ciphertext of the accepted envelope `text` allows: the library stops
        // at a zero byte.
        static bool CutAtZero(byte[] text, int separator, int length)
        {
            long encoded = text.Length - 1 - (separator + 1);
            if (length + BlockSize >= encoded / 4 * 3) return false; // the most it can be: no need to count
            // Count as the library reads: blanks skipped, a "$" after the padding ends it.
            long characters = 0;
            int padding = 0;
            for (int i = separator + 1; text[i] != 0 && text[i] != '$'; ++i)
            {
                byte c = text[i];
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
                ++characters;
                if (c == '=') ++padding;
            }
            return length < characters / 4 * 3 - padding - BlockSize;
        }

        static void Wipe(byte[] bytes)
        {
            if (bytes != null) Array.Clear(bytes, 0, bytes.Length);
        }
    }

    // The two exports, and how the process finds the library. [DllImport]
    // takes "TarvolaCrypt": Windows loads TarvolaCrypt.dll by its usual search
    // (the application's folder first); Mono on Linux maps the name to
    // libtarvolacrypt.so.2018 through the dllmap of bindings/dotnet/dllmap.config.
    static class NativeLoader
    {
        const string Library = "TarvolaCrypt";

        [DllImport(Library, EntryPoint = "Encrypt", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int Encrypt(byte[] plaintext, byte[] key, [Out] byte[] output, int mode);

        [DllImport(Library, EntryPoint = "Decrypt", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int Decrypt(byte[] ciphertext, byte[] key, [Out] byte[] output, int mode);

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        internal static int Call(bool encrypt, byte[] text, byte[] key, byte[] output, Mode mode)
        {
            try
            {
                return encrypt ? Encrypt(text, key, output, (int)mode) : Decrypt(text, key, output, (int)mode);
            }
            catch (DllNotFoundException error)
            {
                throw LoadFailure(error);
            }
            catch (BadImageFormatException error)
            {
                throw LoadFailure(error);
            }
            catch (EntryPointNotFoundException error)
            {
                throw LoadFailure(error);
            }
        }

        static TarvolaCryptException LoadFailure(Exception error)
        {
            string bits = IntPtr.Size == 8 ? "64" : "32";
            return new TarvolaCryptException("cannot load the TarvolaCrypt library into this " + bits +
                "-bit process: on Windows it needs the " + bits + "-bit TarvolaCrypt.dll, on Linux " +
                "libtarvolacrypt.so.2018 and, under Mono, the dllmap of docs/BINDINGS.md", error);
        }

        // An AnyCPU application may carry both Windows DLLs, in x86\ and x64\
        // beside it: the one of this process's bitness is loaded here, and the
        // [DllImport] above then finds it among the loaded modules.
        internal static void PreloadForProcessBitness()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT) return;
            try
            {
                string folder = IntPtr.Size == 8 ? "x64" : "x86";
                string path = Path.Combine(Path.Combine(AppDomain.CurrentDomain.BaseDirectory, folder), "TarvolaCrypt.dll");
                if (File.Exists(path)) LoadLibraryW(path);
            }
            catch (Exception)
            {
                // The usual search still applies; a failure shows at the first call.
            }
        }
    }
}
