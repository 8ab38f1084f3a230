// A DNS reply of arbitrary bytes through the message codec and the record
// readers, as the DNS client reads it.
#include <cstddef>
#include <cstdint>

#include "proxy/dns_client.h"

namespace {

class ReplyReader : public CDnsClient {
public:
    void Read(const uint8_t* data, size_t size) {
        buffer_.Clear();
        if (!buffer_.Append(static_cast<int>(size), data)) return;
        // Take the reply's own id so that the whole message is read.
        if (size >= 2) ownHeader_.id = static_cast<uint16_t>(data[0] << 8 | data[1]);
        if (ReadReply(&buffer_, true)) {
            for (const auto& r : GetAnswers()) (void)r->ToString();
            for (const auto& r : GetAuthorities()) (void)r->ToString();
            for (const auto& r : GetAdditionals()) (void)r->ToString();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000) return 0;
    ReplyReader reader;
    reader.Read(data, size);
    return 0;
}
