#include "base/secret.h"

#include <algorithm>
#include <cstring>

namespace tillbay {

void wipe(void* data, size_t size)
{
    if (data && size)
        ::explicit_bzero(data, size);
}

void wipe(std::string& secret)
{
    if (secret.capacity())
        wipe(secret.data(), secret.capacity());
}

void append_secret(std::string& secret, std::string_view more)
{
    size_t needed = secret.size() + more.size();
    if (needed > secret.capacity()) {
        std::string grown;
        grown.reserve(std::max(needed, secret.capacity() * 2));
        grown.assign(secret);
        wipe(secret);
        secret.swap(grown);
    }
    secret.append(more);
}

} // namespace tillbay
