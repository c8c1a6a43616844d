#pragma once
// The encryption of one Secret Service session ("dh-ietf1024-sha256-aes128-cbc-pkcs7"): a
// Diffie-Hellman exchange on the 1024-bit IETF group, HKDF-SHA256 to an AES-128 key, and
// CBC with PKCS#7 padding. With it a secret crosses the session bus only encrypted, so a
// process that watches the bus learns nothing of it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/secret_bytes.h"

namespace quorlen {

// One encrypted value as the service carries it: its parameter (the IV) and its bytes.
struct SealedSecret {
    std::vector<std::uint8_t> iv;
    std::vector<std::uint8_t> ciphertext;
};

class SecretSession {
  public:
    // The name of the algorithm, as OpenSession takes it.
    static constexpr const char* kAlgorithm = "dh-ietf1024-sha256-aes128-cbc-pkcs7";

    // Returns a session with a fresh key pair, or null when no key pair could be made.
    static std::unique_ptr<SecretSession> begin();
    ~SecretSession();
    SecretSession(const SecretSession&) = delete;
    SecretSession& operator=(const SecretSession&) = delete;

    // Returns this side's public key, big-endian, for OpenSession's input.
    const std::vector<std::uint8_t>& publicKey() const { return publicKey_; }

    // Derives the session key from the service's public key. Returns true when it did;
    // false for a key outside the group, and for a shared secret with a leading zero byte,
    // which services do not all encode alike: open another session then.
    bool agree(std::span<const std::uint8_t> peerPublicKey);

    // Returns the secret encrypted under a fresh IV, or nothing before agree() or on failure.
    std::optional<SealedSecret> seal(std::span<const std::uint8_t> secret) const;

    // Returns the decrypted secret, or nothing when the value is not a well-formed
    // encryption under this session's key.
    std::optional<SecretBytes> open(std::span<const std::uint8_t> iv,
                                    std::span<const std::uint8_t> ciphertext) const;

  private:
    SecretSession() = default;

    SecretBytes privateKey_;  // the exponent, big-endian
    std::vector<std::uint8_t> publicKey_;
    SecretBytes key_;  // AES-128 key, empty until agree()
};

}  // namespace quorlen
