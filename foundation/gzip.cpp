#include "foundation/gzip.h"

#include <cryptopp/filters.h>
#include <cryptopp/gzip.h>

namespace {

struct OutputTooLarge {};

// A sink that refuses to grow past its cap, so inflation stops early.
class CappedStringSink : public CryptoPP::Bufferless<CryptoPP::Sink> {
public:
    CappedStringSink(std::string& out, size_t cap) : out_(out), cap_(cap) {}

    size_t Put2(const CryptoPP::byte* in, size_t length, int, bool) override {
        if (length > cap_ - out_.size()) throw OutputTooLarge();
        out_.append(reinterpret_cast<const char*>(in), length);
        return 0;
    }

private:
    std::string& out_;
    size_t cap_;
};

}  // namespace

std::optional<std::string> GzipCompress(std::string_view data) {
    if (data.empty()) return std::nullopt;
    std::string out;
    try {
        CryptoPP::Gzip zipper(new CryptoPP::StringSink(out), 6, 15);
        zipper.Put(reinterpret_cast<const CryptoPP::byte*>(data.data()), data.size());
        zipper.MessageEnd();
    } catch (const CryptoPP::Exception&) {
        return std::nullopt;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::optional<std::string> GzipDecompress(std::string_view data, size_t maxOutput) {
    if (data.empty()) return std::nullopt;
    std::string out;
    try {
        CryptoPP::Gunzip unzipper(new CappedStringSink(out, maxOutput));
        unzipper.Put(reinterpret_cast<const CryptoPP::byte*>(data.data()), data.size());
        unzipper.MessageEnd();
    } catch (const CryptoPP::Exception&) {
        return std::nullopt;
    } catch (const OutputTooLarge&) {
        return std::nullopt;
    }
    if (out.empty()) return std::nullopt;
    return out;
}
