#include "ciphers/plugins/plugin_buffers.h"

#include <climits>
#include <cstring>

#include "ciphers/crypto_helpers.h"
#include "foundation/private_heap.h"

namespace plugin {

int HandOver(unsigned char** data, std::string_view bytes, int* outLength) {
    *outLength = 0;
    if (bytes.empty()) return 1;
    if (bytes.size() > static_cast<size_t>(INT_MAX)) return 0;
    auto* block = static_cast<unsigned char*>(PrivateHeapAlloc(bytes.size()));
    if (!block) return 0;
    std::memcpy(block, bytes.data(), bytes.size());
    PrivateHeapFree(*data);
    *data = block;
    *outLength = static_cast<int>(bytes.size());
    return 1;
}

std::string RandomString(size_t count) {
    std::string s(count, '\0');
    RandomBytes(reinterpret_cast<unsigned char*>(s.data()), count);
    return s;
}

}  // namespace plugin
