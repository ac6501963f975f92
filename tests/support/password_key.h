// The key of a password as a value, for tests that compare keys; the
// product derives keys only into the caller's buffer.
#pragma once

#include "key_derivation.h"

#include <string_view>

namespace tavro::test {

inline DocumentKey PasswordKey(std::u16string_view password)
{
    DocumentKey key{};
    DeriveKeyFromPassword(password, key);
    return key;
}

} // namespace tavro::test
