#pragma once

// Secrets in memory: passwords, keys, tokens, owner command texts. Their
// bytes are overwritten before the memory goes back to the allocator,
// including the old buffer a growing string leaves behind.

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay {

// Overwrites memory in a way the compiler may not remove.
void wipe(void* data, size_t size);
// The whole capacity, so bytes left by an earlier, longer value go too.
void wipe(std::string& secret);

// Appends to a string that holds a secret. When the string must grow, the
// new buffer is made first and the old one wiped, so no copy of the secret
// is left in freed memory.
void append_secret(std::string& secret, std::string_view more);

// A string that wipes itself when it goes.
class SecretString {
public:
    SecretString() = default;
    explicit SecretString(std::string value)
        : m_value(std::move(value))
    {
    }
    SecretString(SecretString const& other)
        : m_value(other.m_value)
    {
    }
    SecretString(SecretString&& other) noexcept
        : m_value(std::move(other.m_value))
    {
        other.m_value.clear();
    }
    SecretString& operator=(SecretString&& other) noexcept
    {
        if (this != &other) {
            wipe(m_value);
            m_value = std::move(other.m_value);
            other.m_value.clear();
        }
        return *this;
    }
    SecretString& operator=(SecretString const& other)
    {
        if (this != &other) {
            wipe(m_value);
            m_value = other.m_value;
        }
        return *this;
    }
    ~SecretString() { wipe(m_value); }

    std::string const& str() const { return m_value; }
    std::string& str() { return m_value; }
    bool empty() const { return m_value.empty(); }
    size_t size() const { return m_value.size(); }
    void append(std::string_view more) { append_secret(m_value, more); }
    void clear()
    {
        wipe(m_value);
        m_value.clear();
    }

private:
    std::string m_value;
};

} // namespace tillbay
