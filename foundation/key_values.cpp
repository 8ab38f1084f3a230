#include "foundation/key_values.h"

#include "foundation/string_util.h"

size_t ParseKeyValues(std::string_view text, std::string_view keySep, std::string_view pairSep,
                      std::vector<CKeyValuesA>& out) {
    if (text.empty() || keySep.empty() || pairSep.empty()) return 0;
    std::vector<std::string> pieces;
    SplitString(text, pairSep, pieces, true);
    for (const auto& piece : pieces) {
        size_t at = piece.find(keySep);
        if (at == std::string::npos) continue;
        out.emplace_back(piece.substr(0, at), piece.substr(at + keySep.size()));
    }
    return out.size();
}
