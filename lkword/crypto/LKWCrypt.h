// Hash and cipher routines of the PDF security handler and of encrypted
// Office documents: MD5 (RFC 1321), RC4, SHA-1, SHA-256/384/512 (FIPS 180-4) and AES (FIPS-197) with CBC mode. Each is a
// context record with plain procedures; the contexts hold no pointers and may
// be copied. None of them allocates except the byte-string conveniences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lkword/platform/Types.h"

namespace lkw {

// ---------------------------------------------------------------------------
// MD5

using MD5State = uint32_t[4];   // A, B, C, D
using MD5Count = uint32_t[2];   // message length in bits, low word first
using MD5Buffer = uint8_t[64];  // pending input
using MD5Digest = uint8_t[16];
using MD5Block = uint32_t[16];
using MD5CBits = uint8_t[8];

struct MD5Context {
  MD5State State;
  MD5Count Count;
  MD5Buffer Buffer;
};

void MD5Init(MD5Context& Context);
void MD5Update(MD5Context& Context, const void* Input, size_t Length);
// Writes the digest and then zeroes the whole context.
void MD5Final(MD5Context& Context, MD5Digest& Digest);
bool MD5Match(const MD5Digest& D1, const MD5Digest& D2);
// One-shot digest of Data as a 16-byte string.
RawByteString MD5String(std::string_view Data);

// ---------------------------------------------------------------------------
// RC4 (its own inverse)

struct TRC4Context {
  uint8_t State[256];
  uint8_t I;
  uint8_t J;
};

// KeyLength 1 to 256; other lengths are clamped into that range (a zero-length
// key schedules as the single byte 0).
void RC4Init(TRC4Context& Context, const void* Key, size_t KeyLength);
// Output[k] = Input[k] XOR keystream; Input and Output may be the same buffer.
void RC4Crypt(TRC4Context& Context, const void* Input, void* Output, size_t Length);
// The same over strings: Output must already hold at least Length bytes and
// may be Input itself.
void RC4Crypt2(TRC4Context& Context, const RawByteString& Input, RawByteString& Output, size_t Length);
// Copies Length bytes of Input into Output (resized), then as RC4Crypt2.
void RC4Crypt3(TRC4Context& Context, const void* Input, RawByteString& Output, size_t Length);
void RC4Done(TRC4Context& Context);
// One-shot: Data encrypted (or decrypted) under Key.
RawByteString RC4String(std::string_view Key, std::string_view Data);

// ---------------------------------------------------------------------------
// SHA-1

struct SHA1Context {
  uint32_t LenHi;
  uint32_t LenLo;
  uint32_t Index;
  uint32_t Hash[5];
  uint8_t Buffer[64];
};

void SHA1Init(SHA1Context& Context);
void SHA1Update(SHA1Context& Context, const void* Input, size_t Length);
void SHA1Final(SHA1Context& Context, uint8_t (&Digest)[20]);
RawByteString SHA1String(std::string_view Data);
// PBKDF2 (RFC 8018) with HMAC-SHA-1: KeyLength bytes from Password and Salt.
RawByteString PBKDF2HMACSHA1(std::string_view Password, std::string_view Salt, uint32_t Iterations,
                             size_t KeyLength);

// ---------------------------------------------------------------------------
// SHA-256

using SHA256Digest = uint32_t[8];
using SHA256Buffer = uint8_t[64];

struct SHA256Context {
  uint32_t LenHi;
  uint32_t LenLo;
  uint32_t Index;
  SHA256Digest Hash;
  SHA256Buffer Buffer;
};

void SHA256Init(SHA256Context& Context);
void SHA256Update(SHA256Context& Context, const void* Input, size_t Length);
void SHA256Final(SHA256Context& Context, uint8_t (&Digest)[32]);
RawByteString SHA256String(std::string_view Data);

// ---------------------------------------------------------------------------
// SHA-384 and SHA-512 (one context; SHA-384 differs in its initial values and
// in keeping 48 bytes of the result)

struct SHA512Context {
  uint64_t LenHi;
  uint64_t LenLo;
  uint32_t Index;
  uint64_t Hash[8];
  uint8_t Buffer[128];
};

void SHA384Init(SHA512Context& Context);
void SHA512Init(SHA512Context& Context);
void SHA512Update(SHA512Context& Context, const void* Input, size_t Length);
void SHA384Final(SHA512Context& Context, uint8_t (&Digest)[48]);
void SHA512Final(SHA512Context& Context, uint8_t (&Digest)[64]);
RawByteString SHA384String(std::string_view Data);
RawByteString SHA512String(std::string_view Data);

// ---------------------------------------------------------------------------
// Blowfish (older encrypted OpenDocument packages)

struct TBlowfishContext {
  uint32_t P[18];
  uint32_t S[4][256];
};

// KeyLength 1 to 56 bytes; longer keys use their first 56.
void BlowfishInit(TBlowfishContext& Context, const void* Key, size_t KeyLength);
// One 64-bit block, big-endian halves.
void BlowfishEncrypt(const TBlowfishContext& Context, uint8_t (&Block)[8]);
// Cipher feedback over 64-bit blocks: the last block may be partial, so
// Length is any size. Input and Output may be the same buffer.
void BlowfishCFBDecrypt(const TBlowfishContext& Context, const uint8_t (&IV)[8], const uint8_t* Input,
                        uint8_t* Output, size_t Length);

// ---------------------------------------------------------------------------
// AES

struct AESContext {
  int nr;            // rounds: 10, 12 or 14; 0 until a key is set
  uint32_t rk[60];   // expanded key, 4 words per round key
  uint32_t drk[60];  // the same for the equivalent inverse cipher
  uint8_t buf[16];   // work block
};

// Key sizes 128, 192 or 256 bits; other sizes leave the context unchanged.
// Either call sets up encryption and decryption.
void AES_SetKey_Enc(AESContext& Context, const void* Key, int KeySize);
void AES_SetKey_Dec(AESContext& Context, const void* Key, int KeySize);
void AES_Encrypt(AESContext& Context, const uint8_t (&Input)[16], uint8_t (&Output)[16]);
void AES_Decrypt(AESContext& Context, const uint8_t (&Input)[16], uint8_t (&Output)[16]);
// CBC over whole 16-byte blocks (Length is rounded down to a multiple of 16);
// IV is 16 bytes. Input and Output may be the same buffer.
void AES_CBC_Encrypt(AESContext& Context, const uint8_t* IV, const uint8_t* Input, uint8_t* Output, size_t Length);
void AES_CBC_Decrypt(AESContext& Context, const uint8_t* IV, const uint8_t* Input, uint8_t* Output, size_t Length);

}  // namespace lkw
