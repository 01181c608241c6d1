#include "secrets.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace olvaro::server {

namespace {

// A sealed text: this mark, the nonce, then the authenticated cipher text.
// The mark starts with NUL, which packed fields never do (a field name
// comes first, and names are not empty).
constexpr std::string_view kSealedMark("\0sbx1", 5);

bool ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

std::string legacy_digest(std::string_view salted) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(salted.data()), salted.size());
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

// Runs read or write until `size` bytes are through; false on an error or
// an early end.
template <class Io, class Byte>
bool all_of(Io io, int fd, Byte* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = io(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

HashCost HashCost::interactive() { return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE}; }
HashCost HashCost::least() { return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN}; }

std::string hash_password(std::string_view password, HashCost cost) {
    char out[crypto_pwhash_STRBYTES];
    if (!ready() || crypto_pwhash_str(out, password.data(), password.size(), cost.ops, cost.memory) != 0)
        return std::string();
    return out;
}

PasswordMatch match_password(std::string_view password, const std::string& salt, const std::string& stored,
                             HashCost cost) {
    if (!ready() || stored.empty()) return PasswordMatch::kWrong;
    if (stored[0] == '$') {
        if (stored.size() >= crypto_pwhash_STRBYTES ||
            crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) != 0)
            return PasswordMatch::kWrong;
        return crypto_pwhash_str_needs_rehash(stored.c_str(), cost.ops, cost.memory) == 0 ? PasswordMatch::kRight
                                                                                           : PasswordMatch::kRightButStale;
    }
    std::string digest = legacy_digest(salt + std::string(password));
    if (digest.size() != stored.size() || sodium_memcmp(digest.data(), stored.data(), digest.size()) != 0)
        return PasswordMatch::kWrong;
    return PasswordMatch::kRightButStale;
}

bool SecretBox::load_or_create(const std::string& path, std::string* error) {
    if (!ready()) {
        if (error) *error = "the cryptography library did not start";
        return false;
    }
    auto fail = [&](const std::string& what) {
        if (error) *error = what + " " + path + ": " + std::strerror(errno);
        return false;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == off_t(key_.size()) &&
                  all_of(::read, fd, key_.data(), key_.size());
        close(fd);
        if (!ok) {
            // Never a new key in its place: what the old one sealed would be lost.
            errno = EINVAL;
            return fail("the key file is damaged:");
        }
        return true;
    }
    if (errno != ENOENT) return fail("cannot read the key file");
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot make the key file");
    crypto_secretbox_keygen(key_.data());
    bool ok = all_of(::write, fd, static_cast<const unsigned char*>(key_.data()), key_.size()) && fsync(fd) == 0;
    close(fd);
    if (!ok) {
        unlink(path.c_str());
        return fail("cannot write the key file");
    }
    return true;
}

void SecretBox::make_ephemeral() {
    if (ready()) crypto_secretbox_keygen(key_.data());
}

std::string SecretBox::seal(std::string_view plain) const {
    std::string out(kSealedMark);
    size_t at = out.size();
    out.resize(at + crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + plain.size());
    auto* nonce = reinterpret_cast<unsigned char*>(out.data() + at);
    randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(nonce + crypto_secretbox_NONCEBYTES, reinterpret_cast<const unsigned char*>(plain.data()),
                          plain.size(), nonce, key_.data());
    return out;
}

bool SecretBox::looks_sealed(std::string_view data) {
    return data.substr(0, kSealedMark.size()) == kSealedMark &&
           data.size() >= kSealedMark.size() + crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES;
}

std::optional<std::string> SecretBox::open(std::string_view sealed) const {
    if (!looks_sealed(sealed)) return std::nullopt;
    const auto* nonce = reinterpret_cast<const unsigned char*>(sealed.data() + kSealedMark.size());
    const unsigned char* cipher = nonce + crypto_secretbox_NONCEBYTES;
    size_t cipher_size = sealed.size() - kSealedMark.size() - crypto_secretbox_NONCEBYTES;
    std::string plain(cipher_size - crypto_secretbox_MACBYTES, '\0');
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(plain.data()), cipher, cipher_size, nonce,
                                   key_.data()) != 0)
        return std::nullopt;
    return plain;
}

}  // namespace olvaro::server
