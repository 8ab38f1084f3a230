#pragma once
// Encrypted data files. A container is
//   "MC##", 4 version bytes, "ferrik-archive#", MD5 of the plaintext (16),
//   N (int32 LE), N bytes of AES-128-CFB ciphertext, "#MC\0"
// and the Base64 variant stores the container of the gzip-compressed
// plaintext as Base64 text. In plain mode files hold the bytes unchanged.
// Writes replace the file atomically and never leave it half written.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

enum FileBuilderError : int {
    FB_SUCCESS = 0,
    FB_MAGIC_MISSING = 1,  // also: data too short for the frame
    FB_BAD_VERSION = 2,
    FB_TAG_MISMATCH = 3,
    FB_TRAILER_MISSING = 4,
    FB_NOT_OPEN = 5,  // not open, could not be opened, or empty
    FB_DIGEST_MISMATCH = 6,
    FB_NO_DATA = 7,     // null data or no open file on write, or out of memory
    FB_BAD_LENGTH = 8,  // stored length not positive or larger than the data
    FB_GZIP_FAILED = 9,
    FB_BASE64_EMPTY = 10,
    FB_WRITE_FAILED = 11,  // the file could not be written; the old one is kept
};

// Bytes of the frame around the ciphertext.
inline constexpr size_t kFileBuilderFrameSize = 47;

class CFileBuilder {
public:
    explicit CFileBuilder(const std::filesystem::path& path);
    virtual ~CFileBuilder();
    CFileBuilder(const CFileBuilder&) = delete;
    CFileBuilder& operator=(const CFileBuilder&) = delete;

    void SetPlainMode(int flag) { plainMode_ = flag; }

    // Opens the path for reading (read flag set) or prepares its replacement
    // (read flag clear; the file itself is only replaced by a successful
    // Write). 1 on success; 0 with error 5 on failure, after a message box
    // when `showError` is set.
    int Open(int read, int showError);

    // The whole open file; empty for an empty or unreadable file. Sets the total size.
    std::string ReadAll();

    // The plaintext of the open file, zero-terminated and owned by the
    // builder until the next read; null with the error code set on failure.
    virtual const char* Read();

    // Writes `data` as a container (or as it is in plain mode) and replaces
    // the file. Returns the error code: 0, 7 (null data or nothing open; the
    // error code is not touched) or 11.
    virtual int Write(const void* data, size_t size);

    // AES-128-CFB with the key scheme of the builder's version bytes.
    void Encrypt(const unsigned char* in, unsigned char* out, size_t length) const;
    void Decrypt(const unsigned char* in, unsigned char* out, size_t length) const;

    int GetError() const { return error_; }
    size_t GetTotalSize() const { return totalSize_; }
    size_t GetPayloadLength() const { return payloadLength_; }
    const unsigned char* GetVersion() const { return version_; }
    const std::filesystem::path& GetPath() const { return path_; }

protected:
    // Drops the plaintext of the last read.
    void FreePlaintext();
    // Keeps `bytes` as the plaintext and returns it.
    const char* KeepPlaintext(std::string_view bytes);
    // Checks the frame of a decoded container; on success `ciphertext` is
    // the N bytes after the header. `base64Variant` also requires V0 to be
    // 1 or 2. Sets and returns the error code.
    int CheckFrame(std::string_view data, bool base64Variant, std::string_view* ciphertext);
    // The container of `payload` (already compressed where the variant
    // compresses) with `digest` of the plaintext, at version 2, 1, 1, 1.
    std::string BuildContainer(std::string_view payload, const unsigned char digest[16]);
    // The whole open file after dropping the last plaintext; false with
    // error 5 when nothing is open or the file is empty.
    bool LoadFile(std::string* data);
    // Sets the error code and returns null.
    const char* Fail(int error);
    // Writes `bytes` to the prepared file, replaces the target and records
    // the sizes; returns the error code (0 or 11).
    int Store(std::string_view bytes, size_t payloadLength);
    bool IsOpenForReading() const { return file_ != nullptr; }
    bool IsOpenForWriting() const { return writer_.IsOpen(); }
    void Close();

    std::vector<char> plaintext_;
    int error_ = FB_SUCCESS;
    size_t totalSize_ = 0;
    size_t payloadLength_ = 0;
    int plainMode_ = 0;
    std::FILE* file_ = nullptr;
    AtomicFileWriter writer_;
    unsigned char version_[4] = {2, 1, 1, 1};
    std::filesystem::path path_;
};

// Adds nothing; the compressing Base64 variant derives from it.
class CFileBuilderCompress : public CFileBuilder {
public:
    using CFileBuilder::CFileBuilder;
};

class CFileBuilderCompressBase64 : public CFileBuilderCompress {
public:
    using CFileBuilderCompress::CFileBuilderCompress;

    const char* Read() override;
    // Returns the error code it sets: 0, 7, 9, 10 or 11.
    int Write(const void* data, size_t size) override;
};
