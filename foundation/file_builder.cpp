#include "foundation/file_builder.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "foundation/base64.h"
#include "foundation/file_builder_keys.h"
#include "foundation/gzip.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"

namespace {

constexpr char kMagic[4] = {'M', 'C', '#', '#'};
constexpr char kTag[15] = {'f', 'e', 'r', 'r', 'i', 'k', '-', 'a', 'r', 'c', 'h', 'i', 'v', 'e', '#'};
constexpr char kTrailer[4] = {'#', 'M', 'C', '\0'};
constexpr unsigned char kWriteVersion[4] = {2, 1, 1, 1};
constexpr size_t kDigestOffset = 23;
constexpr size_t kLengthOffset = 39;
constexpr size_t kCipherOffset = 43;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void Md5Digest(std::string_view data, unsigned char digest[16]) {
    CryptoPP::Weak::MD5 md5;
    md5.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(data.data()), data.size());
}

bool DigestMatches(std::string_view plaintext, std::string_view container) {
    unsigned char digest[16];
    Md5Digest(plaintext, digest);
    return std::memcmp(digest, container.data() + kDigestOffset, sizeof digest) == 0;
}

int32_t ReadInt32Le(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
    return static_cast<int32_t>(v);
}

void AppendInt32Le(std::string& out, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string ProcessCfb(bool encrypt, unsigned char v0, std::string_view in) {
    FileBuilderKey k = FileBuilderKeyForVersion(v0);
    std::string out(in.size(), '\0');
    auto* dst = reinterpret_cast<CryptoPP::byte*>(out.data());
    auto* src = reinterpret_cast<const CryptoPP::byte*>(in.data());
    if (encrypt) {
        CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cfb(k.key.data(), k.key.size(), k.iv.data());
        cfb.ProcessData(dst, src, in.size());
    } else {
        CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cfb(k.key.data(), k.key.size(), k.iv.data());
        cfb.ProcessData(dst, src, in.size());
    }
    return out;
}

}  // namespace

CFileBuilder::CFileBuilder(const std::filesystem::path& path) : path_(path) {}

CFileBuilder::~CFileBuilder() {
    Close();
}

void CFileBuilder::Close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    writer_.Abandon();
}

int CFileBuilder::Open(int read, int showError) {
    Close();
    bool ok;
    if (read) {
        file_ = std::fopen(path_.c_str(), "rb");
        struct stat st {};
        if (file_ && (fstat(fileno(file_), &st) != 0 || S_ISDIR(st.st_mode))) {
            std::fclose(file_);
            file_ = nullptr;
            errno = EISDIR;
        }
        ok = file_ != nullptr;
    } else {
        ok = writer_.Open(path_);
    }
    if (ok) {
        error_ = FB_SUCCESS;
        return 1;
    }
    int err = errno;
    error_ = FB_NOT_OPEN;
    if (showError) {
        std::string text = "Open file " + path_.string() + " error, error msg: " + std::strerror(err);
        ShowMessageBox(Utf8ToWideString(text), L"Open file in CFileBuilder::Open", MB_OK);
    }
    return 0;
}

std::string CFileBuilder::ReadAll() {
    std::string bytes;
    totalSize_ = 0;
    if (!file_ || std::fseek(file_, 0, SEEK_SET) != 0) return bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) bytes.append(buf, n);
    if (std::ferror(file_)) {
        std::clearerr(file_);
        bytes.clear();
    }
    totalSize_ = bytes.size();
    return bytes;
}

void CFileBuilder::FreePlaintext() {
    plaintext_.clear();
    plaintext_.shrink_to_fit();
    payloadLength_ = 0;
}

const char* CFileBuilder::KeepPlaintext(std::string_view bytes) {
    plaintext_.assign(bytes.begin(), bytes.end());
    plaintext_.push_back('\0');
    payloadLength_ = bytes.size();
    error_ = FB_SUCCESS;
    return plaintext_.data();
}

int CFileBuilder::CheckFrame(std::string_view data, bool base64Variant, std::string_view* ciphertext) {
    // Short data and a length beyond the data are refused before anything is read past them.
    if (data.size() < kFileBuilderFrameSize || std::memcmp(data.data(), kMagic, 4) != 0) {
        return error_ = FB_MAGIC_MISSING;
    }
    std::memcpy(version_, data.data() + 4, 4);
    if (version_[1] != 1 || version_[2] != 1 || version_[3] != 1 ||
        (base64Variant && version_[0] != 1 && version_[0] != 2)) {
        return error_ = FB_BAD_VERSION;
    }
    for (size_t i = 0; i < sizeof kTag; ++i) {
        if (AsciiLower(data[8 + i]) != kTag[i]) return error_ = FB_TAG_MISMATCH;
    }
    int32_t n = ReadInt32Le(data.data() + kLengthOffset);
    if (n <= 0) return error_ = FB_BAD_LENGTH;
    if (std::memcmp(data.data() + data.size() - 4, kTrailer, 4) != 0) return error_ = FB_TRAILER_MISSING;
    if (static_cast<size_t>(n) > data.size() - kFileBuilderFrameSize) return error_ = FB_BAD_LENGTH;
    *ciphertext = data.substr(kCipherOffset, static_cast<size_t>(n));
    return error_ = FB_SUCCESS;
}

bool CFileBuilder::LoadFile(std::string* data) {
    FreePlaintext();
    if (IsOpenForReading()) *data = ReadAll();
    if (data->empty()) {
        error_ = FB_NOT_OPEN;
        return false;
    }
    return true;
}

const char* CFileBuilder::Fail(int error) {
    error_ = error;
    return nullptr;
}

const char* CFileBuilder::Read() {
    std::string data;
    if (!LoadFile(&data)) return nullptr;
    if (plainMode_) return KeepPlaintext(data);
    std::string_view ciphertext;
    if (CheckFrame(data, false, &ciphertext) != FB_SUCCESS) return nullptr;
    std::string plaintext = ProcessCfb(false, version_[0], ciphertext);
    if (!DigestMatches(plaintext, data)) return Fail(FB_DIGEST_MISMATCH);
    return KeepPlaintext(plaintext);
}

std::string CFileBuilder::BuildContainer(std::string_view payload, const unsigned char digest[16]) {
    // Whatever an earlier read found, files are always written at version 2.
    std::memcpy(version_, kWriteVersion, 4);
    std::string out;
    out.reserve(payload.size() + kFileBuilderFrameSize);
    out.append(kMagic, 4);
    out.append(reinterpret_cast<const char*>(version_), 4);
    out.append(kTag, sizeof kTag);
    out.append(reinterpret_cast<const char*>(digest), 16);
    AppendInt32Le(out, static_cast<int32_t>(payload.size()));
    out += ProcessCfb(true, version_[0], payload);
    out.append(kTrailer, 4);
    return out;
}

int CFileBuilder::Store(std::string_view bytes, size_t payloadLength) {
    writer_.Write(bytes);
    // Commit also drops the temporary file after a failed write.
    if (!writer_.Commit()) return error_ = FB_WRITE_FAILED;
    totalSize_ = bytes.size();
    payloadLength_ = payloadLength;
    return error_ = FB_SUCCESS;
}

int CFileBuilder::Write(const void* data, size_t size) {
    if (!data || !IsOpenForWriting()) return FB_NO_DATA;
    std::string_view plaintext(static_cast<const char*>(data), size);
    std::string out;
    if (plainMode_) {
        out.assign(plaintext);
    } else {
        if (size > static_cast<size_t>(INT32_MAX) - kFileBuilderFrameSize) return error_ = FB_NO_DATA;
        unsigned char digest[16];
        Md5Digest(plaintext, digest);
        out = BuildContainer(plaintext, digest);
    }
    return Store(out, size);
}

void CFileBuilder::Encrypt(const unsigned char* in, unsigned char* out, size_t length) const {
    std::string result = ProcessCfb(true, version_[0], {reinterpret_cast<const char*>(in), length});
    std::memcpy(out, result.data(), length);
}

void CFileBuilder::Decrypt(const unsigned char* in, unsigned char* out, size_t length) const {
    std::string result = ProcessCfb(false, version_[0], {reinterpret_cast<const char*>(in), length});
    std::memcpy(out, result.data(), length);
}

const char* CFileBuilderCompressBase64::Read() {
    std::string data;
    if (!LoadFile(&data)) return nullptr;
    if (plainMode_) return KeepPlaintext(data);
    std::string decoded = Base64Decode(data.substr(0, data.find('\0')));
    if (decoded.empty()) return Fail(FB_BASE64_EMPTY);
    std::string_view ciphertext;
    if (CheckFrame(decoded, true, &ciphertext) != FB_SUCCESS) return nullptr;
    std::optional<std::string> plaintext = GzipDecompress(ProcessCfb(false, version_[0], ciphertext));
    if (!plaintext) return Fail(FB_GZIP_FAILED);
    if (!DigestMatches(*plaintext, decoded)) return Fail(FB_DIGEST_MISMATCH);
    return KeepPlaintext(*plaintext);
}

int CFileBuilderCompressBase64::Write(const void* data, size_t size) {
    if (!data || !IsOpenForWriting()) return error_ = FB_NO_DATA;
    std::string_view plaintext(static_cast<const char*>(data), size);
    std::string out;
    if (plainMode_) {
        out.assign(plaintext);
    } else {
        unsigned char digest[16];
        Md5Digest(plaintext, digest);
        std::optional<std::string> gz = GzipCompress(plaintext);
        if (!gz) return error_ = FB_GZIP_FAILED;
        if (gz->size() > static_cast<size_t>(INT32_MAX) - kFileBuilderFrameSize) return error_ = FB_NO_DATA;
        std::string container = BuildContainer(*gz, digest);
        out = Base64Encode(container.data(), container.size());
        if (out.empty()) return error_ = FB_BASE64_EMPTY;
    }
    return Store(out, size);
}
