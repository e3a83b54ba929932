#include "lkword/crypto/LKWCrypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lkw {
namespace {

std::string Hex(std::string_view Bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : Bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view Text) {
  std::string out;
  for (size_t i = 0; i + 1 < Text.size(); i += 2) out += static_cast<char>(std::stoi(std::string(Text.substr(i, 2)), nullptr, 16));
  return out;
}

const std::string kTwoBlocks448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlocks896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

TEST(LKWCrypt, MD5MatchesTheRFC1321TestSuite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [msg, digest] : cases) EXPECT_EQ(Hex(MD5String(msg)), digest) << msg;
}

TEST(LKWCrypt, MD5UpdateSplitAnywhereGivesTheSameDigest) {
  const std::string msg(300, 'x');
  const std::string whole = MD5String(msg);
  for (size_t cut : {0, 1, 55, 56, 63, 64, 65, 128, 299, 300}) {
    MD5Context ctx;
    MD5Digest d;
    MD5Init(ctx);
    MD5Update(ctx, msg.data(), cut);
    MD5Update(ctx, msg.data() + cut, msg.size() - cut);
    MD5Final(ctx, d);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d), 16), whole) << cut;
    // The context is wiped after the final step.
    EXPECT_EQ(ctx.State[0], 0u);
  }
  MD5Digest a{}, b{};
  EXPECT_TRUE(MD5Match(a, b));
  b[15] = 1;
  EXPECT_FALSE(MD5Match(a, b));
}

TEST(LKWCrypt, SHAMatchesTheFIPS180Examples) {
  EXPECT_EQ(Hex(SHA1String("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(SHA1String(kTwoBlocks448)), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Hex(SHA1String("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(SHA256String("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(SHA256String(kTwoBlocks448)), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(SHA256String("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(SHA384String("abc")),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
  EXPECT_EQ(Hex(SHA384String(kTwoBlocks896)),
            "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039");
  EXPECT_EQ(Hex(SHA512String("abc")),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  EXPECT_EQ(Hex(SHA512String(kTwoBlocks896)),
            "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
            "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909");
}

TEST(LKWCrypt, BlowfishMatchesPublishedVectors) {
  // Eric Young's test set: key, plain text, cipher text.
  const char* const vectors[][3] = {
      {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
  };
  auto bytes = [](const char* Hex) {
    std::string out;
    for (int i = 0; Hex[i]; i += 2) out += static_cast<char>(std::stoi(std::string(Hex + i, 2), nullptr, 16));
    return out;
  };
  for (const auto& v : vectors) {
    TBlowfishContext bf;
    const std::string key = bytes(v[0]);
    BlowfishInit(bf, key.data(), key.size());
    uint8_t block[8];
    std::memcpy(block, bytes(v[1]).data(), 8);
    BlowfishEncrypt(bf, block);
    EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(block), 8)), v[2]) << v[0];
  }
}

TEST(LKWCrypt, PBKDF2MatchesTheRFC6070Vectors) {
  EXPECT_EQ(Hex(PBKDF2HMACSHA1("password", "salt", 1, 20)), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Hex(PBKDF2HMACSHA1("password", "salt", 4096, 20)), "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Hex(PBKDF2HMACSHA1("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25)),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Hex(PBKDF2HMACSHA1(std::string_view("pass\0word", 9), std::string_view("sa\0lt", 5), 4096, 16)),
            "56fa6aa75548099dcc37d7f03425e0c3");
  // A key longer than a block is hashed first.
  EXPECT_EQ(PBKDF2HMACSHA1(std::string(70, 'k'), "s", 2, 20), PBKDF2HMACSHA1(SHA1String(std::string(70, 'k')), "s", 2, 20));
}

TEST(LKWCrypt, SHAOverAMillionBytesInOddPieces) {
  const std::string chunk(997, 'a');
  SHA1Context c1;
  SHA256Context c256;
  SHA512Context c512;
  SHA1Init(c1);
  SHA256Init(c256);
  SHA512Init(c512);
  size_t left = 1000000;
  while (left > 0) {
    const size_t n = left < chunk.size() ? left : chunk.size();
    SHA1Update(c1, chunk.data(), n);
    SHA256Update(c256, chunk.data(), n);
    SHA512Update(c512, chunk.data(), n);
    left -= n;
  }
  uint8_t d1[20], d256[32], d512[64];
  SHA1Final(c1, d1);
  SHA256Final(c256, d256);
  SHA512Final(c512, d512);
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(d1), 20)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(d256), 32)),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(d512), 64)),
            "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
            "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b");
}

TEST(LKWCrypt, RC4KnownVectorsAndInverse) {
  EXPECT_EQ(Hex(RC4String("Key", "Plaintext")), "bbf316e8d940af0ad3");
  EXPECT_EQ(Hex(RC4String("Wiki", "pedia")), "1021bf0420");
  EXPECT_EQ(Hex(RC4String("Secret", "Attack at dawn")), "45a01f645fc35b383552544b9bf5");
  // Keystream of the 40-bit key 0102030405 (first 16 bytes).
  EXPECT_EQ(Hex(RC4String(Unhex("0102030405"), std::string(16, '\0'))), "b2396305f03dc027ccc3524a0a1118a8");

  const std::string plain = "the same key twice gives the input back";
  EXPECT_EQ(RC4String("k", RC4String("k", plain)), plain);

  // The string forms, in place and from a buffer, agree with the buffer form.
  TRC4Context ctx;
  RC4Init(ctx, "Key", 3);
  std::string s = "Plaintext";
  RC4Crypt2(ctx, s, s, s.size());
  EXPECT_EQ(Hex(s), "bbf316e8d940af0ad3");
  RC4Init(ctx, "Key", 3);
  std::string out;
  RC4Crypt3(ctx, "Plaintext", out, 9);
  EXPECT_EQ(Hex(out), "bbf316e8d940af0ad3");
  RC4Done(ctx);
  EXPECT_EQ(ctx.State[255], 0);
}

TEST(LKWCrypt, AESMatchesTheFIPS197Examples) {
  const std::string plain = Unhex("00112233445566778899aabbccddeeff");
  const std::string key = Unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const std::pair<int, const char*> cases[] = {{128, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                                               {192, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                                               {256, "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& [bits, cipher] : cases) {
    AESContext enc{}, dec{};
    AES_SetKey_Enc(enc, key.data(), bits);
    AES_SetKey_Dec(dec, key.data(), bits);
    EXPECT_EQ(dec.nr, bits / 32 + 6);
    uint8_t in[16], out[16], back[16];
    std::memcpy(in, plain.data(), 16);
    AES_Encrypt(enc, in, out);
    EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(out), 16)), cipher) << bits;
    AES_Decrypt(dec, out, back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 16), plain) << bits;
  }
  // Appendix A.1: the last word of the expanded 128-bit key.
  AESContext ctx{};
  AES_SetKey_Dec(ctx, Unhex("2b7e151628aed2a6abf7158809cf4f3c").data(), 128);
  EXPECT_EQ(ctx.rk[4], 0xa0fafe17u);
  EXPECT_EQ(ctx.rk[43], 0xb6630ca6u);
  // Other key sizes leave the context as it was.
  AES_SetKey_Dec(ctx, key.data(), 100);
  EXPECT_EQ(ctx.nr, 10);
}

TEST(LKWCrypt, AESCBCMatchesTheSP80038AExample) {
  const std::string key = Unhex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string iv = Unhex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = Unhex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
  const std::string cipher = Unhex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
  AESContext ctx{};
  AES_SetKey_Enc(ctx, key.data(), 128);
  std::string buf = plain;
  auto* p = reinterpret_cast<uint8_t*>(buf.data());
  AES_CBC_Encrypt(ctx, reinterpret_cast<const uint8_t*>(iv.data()), p, p, buf.size());
  EXPECT_EQ(Hex(buf), Hex(cipher));
  AES_CBC_Decrypt(ctx, reinterpret_cast<const uint8_t*>(iv.data()), p, p, buf.size());
  EXPECT_EQ(Hex(buf), Hex(plain));
}

}  // namespace
}  // namespace lkw
