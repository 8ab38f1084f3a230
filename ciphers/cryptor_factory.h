#pragma once
// Builds the cryptor class for a cipher name of the cipher name table.

#include <memory>
#include <string>

#include "ciphers/cryptor.h"

// A keyed cryptor for the method (compared ignoring ASCII case), or null for
// an unknown name, and for the libsodium stream ciphers when the cipher
// library failed to start.
std::unique_ptr<CCryptor> CreateCryptor(std::string method, std::string password);
