// The session encryption of the store, on libgcrypt: its big numbers for the key exchange,
// its HMAC for the key derivation and its AES.
#include "platform/linux/secret_session.h"

#include <gcrypt.h>

#include <array>
#include <cstddef>
#include <mutex>

#include "platform/random.h"

namespace quorlen {
namespace {

constexpr std::size_t kGroupBytes = 128;  // 1024 bits
constexpr std::size_t kKeyBytes = 16;     // AES-128
constexpr std::size_t kBlockBytes = 16;
constexpr std::size_t kHashBytes = 32;  // SHA-256

// The 1024-bit MODP group of RFC 2409 (the Second Oakley Group), generator 2.
constexpr const char* kPrimeHex =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A0879"
    "8E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B"
    "0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFF";

// libgcrypt must be told once, before any use, that nothing else is to be set up. Its own
// secure memory stays off: secrets live in our locked buffers, and libgcrypt wipes the
// big numbers and cipher contexts it frees.
bool ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            ok = true;  // another part of the process has set it up
            return;
        }
        if (gcry_check_version("1.8.0") == nullptr) return;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        ok = true;
    });
    return ok;
}

struct MpiRelease {
    void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiRelease>;

struct CipherClose {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
using Cipher = std::unique_ptr<gcry_cipher_handle, CipherClose>;

Mpi fromBytes(std::span<const std::uint8_t> bytes) {
    gcry_mpi_t m = nullptr;
    if (gcry_mpi_scan(&m, GCRYMPI_FMT_USG, bytes.data(), bytes.size(), nullptr) != 0) return {};
    return Mpi(m);
}

Mpi prime() {
    gcry_mpi_t m = nullptr;
    if (gcry_mpi_scan(&m, GCRYMPI_FMT_HEX, kPrimeHex, 0, nullptr) != 0) return {};
    return Mpi(m);
}

// Writes `m` big-endian, right-aligned in `out` (left-padded with zeros); false if too big.
bool toBytes(gcry_mpi_t m, std::span<std::uint8_t> out) {
    std::size_t written = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &written, m) != 0 || written > out.size()) {
        return false;
    }
    const std::size_t pad = out.size() - written;
    for (std::size_t i = 0; i < pad; ++i) out[i] = 0;
    return gcry_mpi_print(GCRYMPI_FMT_USG, out.data() + pad, written, &written, m) == 0;
}

// HMAC-SHA256 of `data` under `key` into `out` (32 bytes).
bool hmac(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data,
          std::uint8_t* out) {
    // The first buffer is the key when the HMAC flag is set.
    std::array<gcry_buffer_t, 2> buffers{};
    buffers[0].data = const_cast<std::uint8_t*>(key.data());
    buffers[0].len = key.size();
    buffers[0].size = key.size();
    buffers[1].data = const_cast<std::uint8_t*>(data.data());
    buffers[1].len = data.size();
    buffers[1].size = data.size();
    return gcry_md_hash_buffers(GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC, out, buffers.data(), 2) == 0;
}

Cipher aes(const SecretBytes& key, std::span<const std::uint8_t> iv) {
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CBC, 0) != 0) return {};
    Cipher cipher(h);
    if (gcry_cipher_setkey(h, key.data(), key.size()) != 0 ||
        gcry_cipher_setiv(h, iv.data(), iv.size()) != 0) {
        return {};
    }
    return cipher;
}

}  // namespace

std::unique_ptr<SecretSession> SecretSession::begin() {
    if (!ready()) return nullptr;
    const Mpi p = prime();
    if (!p) return nullptr;
    std::unique_ptr<SecretSession> session(new SecretSession());
    session->privateKey_ = SecretBytes(kGroupBytes);
    std::span<std::uint8_t> exponent(session->privateKey_.data(), kGroupBytes);
    if (!fillRandom(exponent)) return nullptr;
    // Below 2^1023, so below p - 1; the chance of a value below 2 is nil.
    exponent[0] &= 0x7F;
    const Mpi x = fromBytes(exponent);
    const Mpi two(gcry_mpi_set_ui(nullptr, 2));
    Mpi y(gcry_mpi_new(1024));
    if (!x || !two || !y) return nullptr;
    gcry_mpi_powm(y.get(), two.get(), x.get(), p.get());
    session->publicKey_.resize(kGroupBytes);
    if (!toBytes(y.get(), session->publicKey_)) return nullptr;
    return session;
}

SecretSession::~SecretSession() = default;

bool SecretSession::agree(std::span<const std::uint8_t> peerPublicKey) {
    key_.release();
    const Mpi p = prime();
    const Mpi peer = fromBytes(peerPublicKey);
    if (!p || !peer) return false;
    // 1 < peer < p - 1: anything else gives a shared secret an onlooker can guess.
    Mpi pMinusOne(gcry_mpi_new(1024));
    gcry_mpi_sub_ui(pMinusOne.get(), p.get(), 1);
    if (gcry_mpi_cmp_ui(peer.get(), 1) <= 0 || gcry_mpi_cmp(peer.get(), pMinusOne.get()) >= 0) {
        return false;
    }
    const Mpi x = fromBytes(privateKey_.bytes());
    Mpi shared(gcry_mpi_new(1024));
    if (!x || !shared) return false;
    gcry_mpi_powm(shared.get(), peer.get(), x.get(), p.get());
    SecretBytes ikm(kGroupBytes);
    if (!toBytes(shared.get(), std::span(ikm.data(), ikm.size()))) return false;
    // Services differ on whether a shorter secret is padded; a full-length one reads alike.
    if (ikm.data()[0] == 0) return false;

    // HKDF-SHA256, no salt (so a key of zeros) and no info; the first 16 bytes of T(1).
    const std::array<std::uint8_t, kHashBytes> zeros{};
    SecretBytes prk(kHashBytes);
    if (!hmac(zeros, ikm.bytes(), prk.data())) return false;
    const std::array<std::uint8_t, 1> counter{1};
    SecretBytes okm(kHashBytes);
    if (!hmac(prk.bytes(), counter, okm.data())) return false;
    key_ = SecretBytes::copyOf(std::span<const std::uint8_t>(okm.data(), kKeyBytes));
    return true;
}

std::optional<SealedSecret> SecretSession::seal(std::span<const std::uint8_t> secret) const {
    if (key_.empty()) return std::nullopt;
    SealedSecret sealed;
    sealed.iv.resize(kBlockBytes);
    if (!fillRandom(sealed.iv)) return std::nullopt;
    // PKCS#7: 1 to 16 bytes, each holding the count; the padded text is as secret as the rest.
    const std::size_t pad = kBlockBytes - secret.size() % kBlockBytes;
    SecretBytes padded(secret.size() + pad);
    for (std::size_t i = 0; i < secret.size(); ++i) padded.data()[i] = secret[i];
    for (std::size_t i = 0; i < pad; ++i)
        padded.data()[secret.size() + i] = static_cast<std::uint8_t>(pad);
    const Cipher cipher = aes(key_, sealed.iv);
    if (!cipher) return std::nullopt;
    sealed.ciphertext.resize(padded.size());
    if (gcry_cipher_encrypt(cipher.get(), sealed.ciphertext.data(), sealed.ciphertext.size(),
                            padded.data(), padded.size()) != 0) {
        return std::nullopt;
    }
    return sealed;
}

std::optional<SecretBytes> SecretSession::open(std::span<const std::uint8_t> iv,
                                               std::span<const std::uint8_t> ciphertext) const {
    if (key_.empty() || iv.size() != kBlockBytes || ciphertext.empty() ||
        ciphertext.size() % kBlockBytes != 0) {
        return std::nullopt;
    }
    const Cipher cipher = aes(key_, iv);
    if (!cipher) return std::nullopt;
    SecretBytes padded(ciphertext.size());
    if (gcry_cipher_decrypt(cipher.get(), padded.data(), padded.size(), ciphertext.data(),
                            ciphertext.size()) != 0) {
        return std::nullopt;
    }
    const std::size_t pad = padded.data()[padded.size() - 1];
    if (pad == 0 || pad > kBlockBytes) return std::nullopt;
    for (std::size_t i = padded.size() - pad; i < padded.size(); ++i) {
        if (padded.data()[i] != pad) return std::nullopt;
    }
    return SecretBytes::copyOf(std::span<const std::uint8_t>(padded.data(), padded.size() - pad));
}

}  // namespace quorlen
