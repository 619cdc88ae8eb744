#pragma once
// A password held in memory: its bytes are wiped when it is replaced or goes away, and
// its buffer is reserved up front so that growing it leaves no copy behind.
#include <string.h>

#include <string>
#include <string_view>

namespace pellux {

class Secret {
public:
    Secret() { text_.reserve(kReserved); }
    explicit Secret(std::string_view text) : Secret() { text_.assign(text); }
    Secret(const Secret &other) : Secret(std::string_view(other.text_)) {}
    Secret &operator=(const Secret &other)
    {
        if (this != &other) {
            Wipe();
            text_.assign(other.text_);
        }
        return *this;
    }
    ~Secret() { Wipe(); }

    void Assign(std::string_view text)
    {
        Wipe();
        text_.assign(text);
    }
    // Within the reserved buffer, appending moves nothing.
    void Append(std::string_view more) { text_.append(more); }
    void DropLast()
    {
        if (!text_.empty()) {
            text_.back() = '\0';
            text_.pop_back();
        }
    }
    void Wipe()
    {
        ::explicit_bzero(text_.data(), text_.capacity());
        text_.clear();
    }
    const std::string &Text() const { return text_; }
    bool Empty() const { return text_.empty(); }
    bool operator==(const Secret &other) const { return text_ == other.text_; }

private:
    static constexpr std::size_t kReserved = 512;
    std::string text_;
};

} // namespace pellux
